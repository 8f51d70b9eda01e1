// Output frame length rules and the 64-byte output report built from a frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hidpipe {

constexpr size_t kReportSize = 64;

// Length of the frame at the start of frame, taken from its header: type 0x02 gives
// byte 2 + 3, boot loader frames F1 and F3 are 8 bytes, F2 and F4 64. Only the bytes of
// the header that decide the length are read. Returns 0 for an unknown type or a frame
// that would not fit one report.
size_t outputFrameLength(const uint8_t* frame);

// Copies the frame into report (kReportSize bytes) followed by zeros. Never reads past the
// frame. Returns false (report untouched) when the frame is refused.
bool buildOutputReport(const uint8_t* frame, uint8_t* report);

}  // namespace hidpipe
