#include "ReportFraming.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "FrameLength.h"

namespace hidpipe {

namespace {

std::string sizeText(size_t frame, uint8_t id, size_t bytes) {
  char text[128];
  std::snprintf(text, sizeof text,
                "frame of %zu bytes does not fit output report id 0x%02X (%zu bytes after the id)",
                frame, id, bytes);
  return text;
}

}  // namespace

std::string frameRefusal(const ReportLayout& layout, const uint8_t* report) {
  const size_t length = outputFrameLength(report);
  if (length == 0) return "not a frame the protocol sends";
  if (!layout.numbered) return length <= layout.outputBytes ? "" : sizeText(length, 0, layout.outputBytes);
  if (!layout.idIsFrameType)
    return length <= layout.outputBytes ? "" : sizeText(length, layout.outputId, layout.outputBytes);
  const uint8_t type = report[0];
  const size_t bytes = layout.outputBytesById[type];
  if (bytes == 0) {
    char text[96];
    std::snprintf(text, sizeof text, "no output report id 0x%02X for frames of that type", type);
    return text;
  }
  return length <= 1 + bytes ? "" : sizeText(length, type, bytes);
}

bool writeReport(int fd, const ReportLayout& layout, const uint8_t* report) {
  if (!frameRefusal(layout, report).empty()) {
    errno = EMSGSIZE;
    return false;
  }
  std::vector<uint8_t> out;
  if (!layout.numbered) {
    out.assign(1 + std::max(layout.outputBytes, kReportSize), 0);
    std::memcpy(out.data() + 1, report, kReportSize);
  } else if (!layout.idIsFrameType) {
    out.assign(1 + layout.outputBytes, 0);
    out[0] = layout.outputId;
    std::memcpy(out.data() + 1, report, outputFrameLength(report));
  } else {
    out.assign(1 + size_t(layout.outputBytesById[report[0]]), 0);
    std::memcpy(out.data(), report, outputFrameLength(report));
  }
  for (;;) {
    const ssize_t n = ::write(fd, out.data(), out.size());
    if (n < 0 && errno == EINTR) continue;
    return n == static_cast<ssize_t>(out.size());
  }
}

ReadResult readReport(int fd, const ReportLayout& layout, uint8_t* report,
                      size_t* received) {
  uint8_t raw[1 + kMaxReportBytes];
  const size_t room =
      1 + std::min(std::max(layout.largestInputBytes, kReportSize), kMaxReportBytes);
  const ssize_t n = ::read(fd, raw, room);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return ReadResult::None;
  if (n <= 0) return ReadResult::Gone;
  const uint8_t* body = raw;
  size_t size = static_cast<size_t>(n);
  if (layout.numbered) {
    if (size == 1) return ReadResult::None;
    if (layout.idIsFrameType && isReceivedFrameType(raw[0])) {
      if (!layout.inputIds.test(raw[0])) return ReadResult::None;
    } else {
      if (raw[0] != layout.inputId) return ReadResult::None;
      ++body;
      --size;
    }
  }
  const size_t copied = std::min(size, kReportSize);
  std::memcpy(report, body, copied);
  std::memset(report + copied, 0, kReportSize - copied);
  if (received != nullptr) *received = copied;
  return ReadResult::Report;
}

}  // namespace hidpipe
