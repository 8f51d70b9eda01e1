// Frame length rules: the 64-byte output report built from a frame, and whether an input
// report holds the whole frame its header announces.
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

// Length of the frame at the start of an input report, from its header: type 0x02 gives
// byte 2 + 3, F1 and F3 8, F2 and F4 64; never more than one report. 0 for a type whose
// length the header does not give (device text F5 is zero-filled text of any length).
size_t inputFrameLength(const uint8_t* report);

// True when fewer bytes of the report arrived than the frame at its start announces: the
// rest of the report is padding, not data.
bool frameTruncated(const uint8_t* report, size_t received);

}  // namespace hidpipe
