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

namespace detail {
struct HexTable {
  int8_t v[256];
  constexpr HexTable() : v() {
    for (int i = 0; i < 256; ++i) v[i] = -1;
    for (int i = 0; i < 10; ++i) v['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) v['A' + i] = v['a' + i] = static_cast<int8_t>(10 + i);
  }
};
inline constexpr HexTable kHexTable{};
}  // namespace detail

// Value of one hexadecimal digit (either case), or -1. Inline: parsers call it for every
// digit of every frame.
inline int HexDigit(char c) {
  return detail::kHexTable.v[static_cast<unsigned char>(c)];
}

// Two digits a byte (upper case unless `lower`), `sep` between bytes when it is not 0.
void AppendHex(std::string& out, std::span<const uint8_t> bytes, char sep = 0, bool lower = false);
std::string ToHex(std::span<const uint8_t> bytes, char sep = 0, bool lower = false);

// Consecutive pairs of digits (either case); with `blanks`, blanks between pairs are
// skipped. false on any other character or an odd digit.
bool DecodeHex(std::string_view text, std::vector<uint8_t>& out, bool blanks = false);

}  // namespace capture
