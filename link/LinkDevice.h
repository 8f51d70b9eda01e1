// The device an open link uses, as the programs and every report name it.
#pragma once

#include <cstdint>
#include <string>

struct LinkDevice {
  std::string node;    // "/dev/hidraw3", "/dev/ttyUSB0"; the simulator's "sim:SOCKET"
  std::string bus;     // "USB", "I2C", "Bluetooth", "SPI", "serial"
  uint16_t vid = 0;    // USB identity (0 on a serial line)
  uint16_t pid = 0;
  int iface = -1;      // USB interface, -1 when the bus has none
  std::string serial;  // the device's serial number, "" when it has none
  std::string port;    // USB port path ("1-2.3"), "" off USB
};

// "/dev/hidraw3  USB  227D:0102  interface 1  port 1-2  serial SN-A" ("" when none is open).
std::string LinkDeviceText(const LinkDevice& d);
