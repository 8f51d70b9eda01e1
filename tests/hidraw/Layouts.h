// Report layouts of real controllers, as descriptors and the framing their firmware uses.
#pragma once

#include <string>
#include <vector>

#include "EmulatedController.h"
#include "sim/SimHex.h"

namespace layouts {

inline std::vector<uint8_t> Hex(const std::string& text) {
  return tpcsim::ParseHex(text).value_or(std::vector<uint8_t>{});
}

// Top-level collections: a digitizer's 64-byte input id 1, and the head of a vendor one.
inline const std::string kDigitizer =
    "05 0d 09 04 a1 01 85 01 15 00 26 ff 00 75 08 95 40 09 01 81 02 c0 ";
inline const std::string kVendor = "06 00 ff 09 01 a1 01 15 00 26 ff 00 75 08 ";

// One vendor collection, 64-byte input and output reports without ids.
inline Layout Unnumbered64() {
  Layout l;
  l.name = "Unnumbered64";
  l.descriptor = Hex(kVendor + "95 40 09 01 81 02 09 01 91 02 c0");
  return l;
}

// A touch screen's digitizer and a vendor pipe (id 5, 64 bytes each way) on one node.
inline Layout DigitizerAndVendor() {
  Layout l;
  l.name = "DigitizerAndVendor";
  l.descriptor = Hex(kDigitizer + kVendor + "85 05 95 40 09 01 81 02 09 01 91 02 c0");
  l.framing = Framing::VendorPipe;
  l.pipeId = 0x05;
  l.pipeBytes = 64;
  l.touchId = 0x01;
  return l;
}

// The digitizer alone: interface 0 of a device whose vendor pipe is interface 1.
inline std::vector<uint8_t> DigitizerOnly() {
  return Hex(kDigitizer);
}

// Numbered reports whose ids are the frame types: 02 both ways (64 bytes with the id), the
// boot loader's F1/F3 (8) and F2/F4 (64).
inline Layout IdIsFrameType() {
  Layout l;
  l.name = "IdIsFrameType";
  l.descriptor = Hex(kVendor +
                     "85 02 95 3f 09 01 81 02 09 01 91 02 "
                     "85 f1 95 07 09 01 91 02  85 f2 95 3f 09 01 91 02 "
                     "85 f3 95 07 09 01 81 02  85 f4 95 3f 09 01 81 02 c0");
  l.framing = Framing::IdIsType;
  l.idBytes = {{0x02, 64}, {0xF1, 8}, {0xF2, 64}, {0xF3, 8}, {0xF4, 64}};
  return l;
}

// A touch screen's digitizer beside a vendor pipe declared as id 3 followed by 63 bytes,
// each way.
inline Layout DigitizerAndVendorPipe63() {
  Layout l;
  l.name = "DigitizerAndVendorPipe63";
  l.descriptor = Hex(kDigitizer + kVendor + "85 03 95 3f 09 01 81 02 09 01 91 02 c0");
  l.framing = Framing::VendorPipe;
  l.pipeId = 0x03;
  l.pipeBytes = 63;
  l.touchId = 0x01;
  return l;
}

// The same on an I2C bus: no USB interface to match.
inline Layout I2cDigitizerAndVendorPipe63() {
  Layout l = DigitizerAndVendorPipe63();
  l.name = "I2cDigitizerAndVendorPipe63";
  l.bus = HidNodeSpec::kBusI2c;
  return l;
}

}  // namespace layouts
