#include "FrameLength.h"

#include <algorithm>
#include <cstring>

namespace hidpipe {

size_t outputFrameLength(const uint8_t* frame) {
  if (frame == nullptr) return 0;
  switch (frame[0]) {
    case 0x02: {
      const size_t len = size_t{frame[2]} + 3;
      return len <= kReportSize ? len : 0;
    }
    case 0xF1:
    case 0xF3:
      return 8;
    case 0xF2:
    case 0xF4:
      return 64;
    default:
      return 0;
  }
}

bool buildOutputReport(const uint8_t* frame, uint8_t* report) {
  const size_t len = outputFrameLength(frame);
  if (len == 0) return false;
  std::memcpy(report, frame, len);
  std::memset(report + len, 0, kReportSize - len);
  return true;
}

size_t inputFrameLength(const uint8_t* report) {
  if (report == nullptr) return 0;
  switch (report[0]) {
    case 0x02:
      return std::min(size_t{report[2]} + 3, kReportSize);
    case 0xF1:
    case 0xF3:
      return 8;
    case 0xF2:
    case 0xF4:
      return kReportSize;
    default:
      return 0;
  }
}

bool frameTruncated(const uint8_t* report, size_t received) {
  return received < inputFrameLength(report);
}

}  // namespace hidpipe
