#include "records/Printable.h"

#include <cstdio>

namespace records {

std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  auto escape = [&](unsigned char c) {
    char b[8];
    std::snprintf(b, sizeof b, "\\x%02X", c);
    out += b;
  };
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t') || c == 0x7F)
        escape(c);
      else
        out += static_cast<char>(c);
      ++i;
      continue;
    }
    // A well-formed UTF-8 sequence (no overlong forms, no surrogates, at most U+10FFFF).
    size_t len = c >= 0xC2 && c <= 0xDF   ? 2
                 : c >= 0xE0 && c <= 0xEF ? 3
                 : c >= 0xF0 && c <= 0xF4 ? 4
                                          : 0;
    bool ok = len > 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) ok = (p[i + k] & 0xC0) == 0x80;
    if (ok && len == 3) {
      const unsigned cp = (c & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6;
      ok = cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
    }
    if (ok && len == 4) {
      const unsigned cp = (c & 0x07u) << 18 | (p[i + 1] & 0x3Fu) << 12;
      ok = cp >= 0x10000 && cp <= 0x10FFFF;
    }
    // U+FFFE and U+FFFF are not XML characters either.
    if (ok && len == 3 && c == 0xEF && p[i + 1] == 0xBF && (p[i + 2] == 0xBE || p[i + 2] == 0xBF))
      ok = false;
    if (!ok) {
      escape(c);
      ++i;
      continue;
    }
    out.append(text, i, len);
    i += len;
  }
  return out;
}

}  // namespace records
