// The queries the transfer controller sends on every link it opens, in order.
#pragma once

#include <string>

namespace OpeningQueries {

inline constexpr const char* kGetVersion = "SEND 024C020400 ";
inline constexpr const char* kReportTarget = "SEND 024C020501 ";   // this program (USB)
inline constexpr const char* kCoordinatesOn = "SEND 024C020800 ";  // coordinate reports (USB)
inline constexpr const char* kGetFirmwareDetail = "SEND 024C020600 ";
inline constexpr const char* kAll[] = {kGetVersion, kReportTarget, kCoordinatesOn,
                                       kGetFirmwareDetail};

// Sent on USB links only.
inline bool UsbOnly(const char* cmd) {
  return cmd != kGetVersion && cmd != kGetFirmwareDetail;
}

inline bool IsOne(const std::string& cmd) {
  for (const char* q : kAll)
    if (cmd == q) return true;
  return false;
}

}  // namespace OpeningQueries
