// The listener slots of the transfer controller. Any thread.
#pragma once

#include <cstdint>
#include <mutex>

#include "ITransListener.h"
#include "ListenerSlots.h"

class CListenerTable {
 public:
  static constexpr int kSlotCount = 10;

  // The slot, or -1 if the slot is above 9. An occupied slot, or mode kListenerOff,
  // leaves the table as it is.
  int Register(uint16_t slot, int mode, ITransListener* listener);
  int Unregister(uint16_t slot);
  bool IsActive(uint16_t slot) const;
  // The slot's listener; null when the slot is free, or not active and activeOnly.
  ITransListener* Pick(int slot, bool activeOnly) const;
  // kSlotXY while it is active, kSlotXYStandIn otherwise.
  int XYSlot() const;

 private:
  struct Slot {
    int mode = kListenerOff;
    ITransListener* listener = nullptr;
  };
  mutable std::mutex mutex_;
  Slot slots_[kSlotCount];
};
