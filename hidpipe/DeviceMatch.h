// Choosing the device to open from a list of device descriptions.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct HidDeviceDesc;  // hidpipe.h

namespace hidpipe {

// Buses as hidapi numbers them.
enum HidBus : int { kBusUnknown = 0, kBusUsb = 1, kBusBluetooth = 2, kBusI2c = 3, kBusSpi = 4 };

struct HidDeviceInfo {
  HidDeviceInfo(uint16_t v = 0, uint16_t p = 0, int i = -1, std::string devicePath = {},
                int b = kBusUsb, std::string name = {})
      : vid(v), pid(p), iface(i), path(std::move(devicePath)), bus(b), product(std::move(name)) {}

  uint16_t vid = 0;
  uint16_t pid = 0;
  int iface = -1;  // interface number, -1 when the device has none
  std::string path;
  int bus = kBusUsb;
  std::string product;  // the product name, when the device gives one
  std::string serial;   // the serial number (USB iSerial, HID_UNIQ); empty when none
  std::string port;     // USB port path ("1-2.3"); empty off USB
};

// The device as the C API describes it (strings cut to their fields, the interface -1 off
// USB), and back.
void describeDevice(const HidDeviceInfo& device, HidDeviceDesc& out);
HidDeviceInfo deviceOf(const HidDeviceDesc& desc);

// "USB", "Bluetooth", "I2C", "SPI" or "unknown".
const char* busName(int bus);

// Vendor and product match, and on USB the interface number too (I2C, Bluetooth and SPI
// devices have none). Vendor 0 or product 0 matches nothing.
bool deviceMatches(const HidDeviceInfo& device, uint32_t vid, uint32_t pid, uint32_t iface);

// True when choice names the device: its node ("/dev/hidraw3" or "hidraw3"), its USB port
// path or its serial number. An empty choice names every device.
bool deviceChosen(const HidDeviceInfo& device, const std::string& choice);

// Indexes of the matching devices, in list order.
std::vector<size_t> matchingDevices(const std::vector<HidDeviceInfo>& devices, uint32_t vid,
                                    uint32_t pid, uint32_t iface);

// Index of the first matching device, or -1.
int findDevice(const std::vector<HidDeviceInfo>& devices, uint32_t vid, uint32_t pid,
               uint32_t iface);

}  // namespace hidpipe
