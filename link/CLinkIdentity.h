// The USB identities the transfer controller opens: entry 0 from the first identity,
// entries 1 and 2 from the second, each with its pipe's interface, and the one device to
// open when several match. Set on the user-interface thread before Open.
#pragma once

#include <cstdint>
#include <string>

#include "CTransIFBase.h"
#include "CTransUSB.h"

class CLinkIdentity {
 public:
  static constexpr int kEntries = CTransUSB::kEntries;

  void Set(int entry, uint16_t vid, uint16_t pid, uint16_t osType) {
    if (!Valid(entry)) return;
    vids_[entry] = vid;
    pids_[entry] = pid;
    osTypes_[entry] = osType;
  }
  void SetInterface(int entry, uint16_t iface) {
    if (Valid(entry)) ifaces_[entry] = iface;
  }
  void SetDeviceChoice(const std::string& choice) { deviceChoice_ = choice; }

  uint16_t VendorId(int entry) const { return Valid(entry) ? vids_[entry] : 0; }
  uint16_t ProductId(int entry) const { return Valid(entry) ? pids_[entry] : 0; }
  uint16_t OSType(int entry) const { return Valid(entry) ? osTypes_[entry] : 0; }
  uint16_t Interface(int entry) const { return Valid(entry) ? ifaces_[entry] : 0; }

  // Hands the table to a USB link before it opens.
  void ApplyTo(CTransIFBase& link) const {
    link.SetVendorIds(vids_);
    link.SetProductIds(pids_);
    link.SetOSTypes(osTypes_);
    link.SetInterfaces(ifaces_);
    link.SetDeviceChoice(deviceChoice_);
  }

 private:
  static bool Valid(int entry) { return entry >= 0 && entry < kEntries; }

  uint16_t vids_[kEntries] = {};
  uint16_t pids_[kEntries] = {};
  uint16_t osTypes_[kEntries] = {2, 2, 2};
  uint16_t ifaces_[kEntries] = {CTransUSB::kInterface, CTransUSB::kInterface,
                                CTransUSB::kInterface};
  std::string deviceChoice_;
};
