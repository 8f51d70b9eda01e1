#include "ReportFraming.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "FrameLength.h"

namespace hidpipe {

bool writeReport(int fd, const ReportLayout& layout, const uint8_t* report) {
  std::vector<uint8_t> out(1 + std::max(layout.outputBytes, kReportSize), 0);
  out[0] = layout.numbered ? layout.outputId : 0;
  std::memcpy(out.data() + 1, report, kReportSize);
  for (;;) {
    const ssize_t n = ::write(fd, out.data(), out.size());
    if (n < 0 && errno == EINTR) continue;
    return n == static_cast<ssize_t>(out.size());
  }
}

ReadResult readReport(int fd, const ReportLayout& layout, uint8_t* report) {
  uint8_t raw[1 + kMaxReportBytes];
  const size_t room =
      1 + std::min(std::max(layout.largestInputBytes, kReportSize), kMaxReportBytes);
  const ssize_t n = ::read(fd, raw, room);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return ReadResult::None;
  if (n <= 0) return ReadResult::Gone;
  const uint8_t* body = raw;
  size_t size = static_cast<size_t>(n);
  if (layout.numbered) {
    if (raw[0] != layout.inputId || size == 1) return ReadResult::None;
    ++body;
    --size;
  }
  const size_t copied = std::min(size, kReportSize);
  std::memcpy(report, body, copied);
  std::memset(report + copied, 0, kReportSize - copied);
  return ReadResult::Report;
}

}  // namespace hidpipe
