// Small byte/hex helpers of the simulator over the capture codec (no dependency on the
// link code).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tpcsim {

using Bytes = std::vector<uint8_t>;

// "02 4C 02 04 00": upper-case pairs separated by one blank.
std::string HexLine(std::span<const uint8_t> bytes);

// Value of one hexadecimal digit (either case), or -1.
int HexDigit(char c);

// Strict parse of consecutive hex pairs ("024c0204"); blanks between pairs allowed.
std::optional<Bytes> ParseHex(std::string_view text);

// Serial packet: STX, upper-case hex digits of the frame, CR.
std::string SerialPacket(std::span<const uint8_t> frame);

// Length of a frame from its header as the host reads it: type 02 gives byte 2 + 3,
// F1/F3 give 8, F2/F4/F5 give 64; 0 when unknown. Never more than `available`.
size_t FrameLength(std::span<const uint8_t> report);

}  // namespace tpcsim
