#include "DeviceMatch.h"

#include <cstdio>

#include "hidpipe/hidpipe.h"

namespace hidpipe {

void describeDevice(const HidDeviceInfo& info, HidDeviceDesc& out) {
  out = HidDeviceDesc{};
  const auto copy = [](char* to, size_t size, const std::string& from) {
    std::snprintf(to, size, "%s", from.c_str());
  };
  copy(out.path, sizeof out.path, info.path);
  copy(out.serial, sizeof out.serial, info.serial);
  copy(out.port, sizeof out.port, info.port);
  copy(out.product, sizeof out.product, info.product);
  out.vid = info.vid;
  out.pid = info.pid;
  out.iface = info.bus == kBusUsb ? info.iface : -1;
  out.bus = info.bus;
}

HidDeviceInfo deviceOf(const HidDeviceDesc& desc) {
  HidDeviceInfo info(desc.vid, desc.pid, desc.iface, desc.path, desc.bus, desc.product);
  info.serial = desc.serial;
  info.port = desc.port;
  return info;
}

const char* busName(int bus) {
  switch (bus) {
    case kBusUsb:
      return "USB";
    case kBusBluetooth:
      return "Bluetooth";
    case kBusI2c:
      return "I2C";
    case kBusSpi:
      return "SPI";
    default:
      return "unknown";
  }
}

bool deviceMatches(const HidDeviceInfo& d, uint32_t vid, uint32_t pid, uint32_t iface) {
  if (vid == 0 || pid == 0 || d.vid != vid || d.pid != pid) return false;
  if (d.bus != kBusUsb) return true;
  return d.iface >= 0 && static_cast<uint32_t>(d.iface) == iface;
}

bool deviceChosen(const HidDeviceInfo& d, const std::string& choice) {
  if (choice.empty()) return true;
  if (choice == d.path || (!d.port.empty() && choice == d.port)) return true;
  if (!d.serial.empty() && choice == d.serial) return true;
  const size_t slash = d.path.rfind('/');
  return slash != std::string::npos && choice == d.path.substr(slash + 1);
}

std::vector<size_t> matchingDevices(const std::vector<HidDeviceInfo>& devices, uint32_t vid,
                                    uint32_t pid, uint32_t iface) {
  std::vector<size_t> found;
  for (size_t i = 0; i < devices.size(); ++i)
    if (deviceMatches(devices[i], vid, pid, iface)) found.push_back(i);
  return found;
}

int findDevice(const std::vector<HidDeviceInfo>& devices, uint32_t vid, uint32_t pid,
               uint32_t iface) {
  const std::vector<size_t> found = matchingDevices(devices, vid, pid, iface);
  return found.empty() ? -1 : static_cast<int>(found.front());
}

}  // namespace hidpipe
