#include "CListenerTable.h"

int CListenerTable::Register(uint16_t slot, int mode, ITransListener* listener) {
  if (slot >= kSlotCount) return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  Slot& entry = slots_[slot];
  if (entry.mode == kListenerOff && mode != kListenerOff) entry = Slot{mode, listener};
  return slot;
}

int CListenerTable::Unregister(uint16_t slot) {
  if (slot >= kSlotCount) return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  slots_[slot] = Slot{};
  return slot;
}

bool CListenerTable::IsActive(uint16_t slot) const {
  if (slot >= kSlotCount) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  return slots_[slot].mode == kListenerActive;
}

ITransListener* CListenerTable::Pick(int slot, bool activeOnly) const {
  if (slot < 0 || slot >= kSlotCount) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  const Slot& entry = slots_[slot];
  if (activeOnly && entry.mode != kListenerActive) return nullptr;
  return entry.listener;
}

int CListenerTable::XYSlot() const {
  return IsActive(kSlotXY) ? kSlotXY : kSlotXYStandIn;
}
