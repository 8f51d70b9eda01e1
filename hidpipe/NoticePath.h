// Device identities in notice paths ("/dev/hidraw3#VID_227D&PID_0102&MI_01").
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace hidpipe {

struct DeviceIdentity {
  uint16_t vid = 0;
  uint16_t pid = 0;
  int iface = -1;  // -1: not known, no "MI_" part
};

// "#VID_227D&PID_0102&MI_01" appended to node (upper-case hexadecimal).
std::string formatNoticePath(const std::string& node, const DeviceIdentity& id);

// Vendor and product from a HID_ID property ("0003:0000227D:00000102").
std::optional<DeviceIdentity> parseHidId(const std::string& hidId);

// Identity read back from a notice path; nothing when VID_ or PID_ is missing.
std::optional<DeviceIdentity> parseNoticePath(const std::string& path);

}  // namespace hidpipe
