// Bytes as hexadecimal text and back: the one codec of captures, the simulator and the
// programs' displays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace capture {

// Value of one hexadecimal digit (either case), or -1.
int HexDigit(char c);

// Two digits a byte (upper case unless `lower`), `sep` between bytes when it is not 0.
void AppendHex(std::string& out, std::span<const uint8_t> bytes, char sep = 0, bool lower = false);
std::string ToHex(std::span<const uint8_t> bytes, char sep = 0, bool lower = false);

// Consecutive pairs of digits (either case); with `blanks`, blanks between pairs are
// skipped. false on any other character or an odd digit.
bool DecodeHex(std::string_view text, std::vector<uint8_t>& out, bool blanks = false);

}  // namespace capture
