#include "capture/HexCodec.h"

namespace capture {

namespace {
constexpr char kUpper[] = "0123456789ABCDEF";
constexpr char kLower[] = "0123456789abcdef";
}  // namespace

void AppendHex(std::string& out, std::span<const uint8_t> bytes, char sep, bool lower) {
  const char* digits = lower ? kLower : kUpper;
  const size_t at = out.size();
  const size_t each = sep != 0 ? 3 : 2;
  if (bytes.empty()) return;
  out.resize(at + bytes.size() * each - (sep != 0 ? 1 : 0));
  char* p = out.data() + at;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0 && sep != 0) *p++ = sep;
    *p++ = digits[bytes[i] >> 4];
    *p++ = digits[bytes[i] & 0x0F];
  }
}

std::string ToHex(std::span<const uint8_t> bytes, char sep, bool lower) {
  std::string out;
  AppendHex(out, bytes, sep, lower);
  return out;
}

bool DecodeHex(std::string_view text, std::vector<uint8_t>& out, bool blanks) {
  out.clear();
  out.reserve(text.size() / 2);
  size_t i = 0;
  while (i < text.size()) {
    if (blanks && (text[i] == ' ' || text[i] == '\t')) {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return false;
    const int hi = HexDigit(text[i]);
    const int lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

}  // namespace capture
