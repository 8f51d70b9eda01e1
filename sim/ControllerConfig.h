// Settings of one virtual controller; command-line options fill it, control commands
// change parts of it at run time.
#pragma once

#include <cstdint>
#include <string>

namespace tpcsim {

enum class LinkKind { Usb, Serial };
enum class CalibrateResult { Ok, Fail, Never };

struct ControllerConfig {
  LinkKind link = LinkKind::Usb;
  uint16_t vid = 0x227D;
  uint16_t pid = 0x0102;
  uint8_t iface = 1;

  std::string versionText = "TPCSIM 1.0.0";
  int detailForm = 17;  // 8 or 17 bytes
  uint8_t xCount = 38;
  uint8_t yCount = 22;
  uint16_t resolution = 64;
  uint16_t xRange = 0;  // 0: xCount * resolution
  uint16_t yRange = 0;

  int valuesPerFrame = 20;     // data values per report, 1 to 28
  double streamRateHz = 400;   // data reports per second
  bool streamRateMax = false;  // as fast as the transport takes them
  bool streamSeq = false;      // sequence number and send time in the first values
  double touchRateHz = 100;    // coordinate reports per second
  uint32_t noiseSeed = 12345;  // one panel's noise; another seed, another panel
  int valueOffset = 0;         // added to raw, offset and open/short values (a panel's level)

  int calibrateDelayMs = 2000;
  CalibrateResult calibrateResult = CalibrateResult::Ok;

  // Boot loader products 0x0104 to 0x0108 (served on interface 0).
  static bool IsDfuPid(uint16_t p) { return p >= 0x0104 && p <= 0x0108; }
  bool IsDfu() const { return IsDfuPid(pid); }
  uint16_t XRange() const { return xRange ? xRange : static_cast<uint16_t>(xCount * resolution); }
  uint16_t YRange() const { return yRange ? yRange : static_cast<uint16_t>(yCount * resolution); }
};

}  // namespace tpcsim
