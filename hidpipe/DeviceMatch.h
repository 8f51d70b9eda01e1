// Choosing the device to open from a list of device descriptions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hidpipe {

struct HidDeviceInfo {
  uint16_t vid = 0;
  uint16_t pid = 0;
  int iface = -1;  // interface number, -1 when the device has none
  std::string path;
};

// Index of the first device whose vendor, product and interface number all match, or -1.
// Vendor 0 or product 0 matches nothing.
int findDevice(const std::vector<HidDeviceInfo>& devices, uint32_t vid, uint32_t pid,
               uint32_t iface);

}  // namespace hidpipe
