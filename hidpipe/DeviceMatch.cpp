#include "DeviceMatch.h"

namespace hidpipe {

int findDevice(const std::vector<HidDeviceInfo>& devices, uint32_t vid, uint32_t pid,
               uint32_t iface) {
  if (vid == 0 || pid == 0) return -1;
  for (size_t i = 0; i < devices.size(); ++i) {
    const HidDeviceInfo& d = devices[i];
    if (d.vid == vid && d.pid == pid && d.iface >= 0 && static_cast<uint32_t>(d.iface) == iface)
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace hidpipe
