#include "sim/SimHex.h"

namespace tpcsim {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";
}

std::string HexLine(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) out.push_back(' ');
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0xF]);
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<Bytes> ParseHex(std::string_view text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' && high < 0) continue;
    int v = HexDigit(c);
    if (v < 0) return std::nullopt;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return out;
}

std::string SerialPacket(std::span<const uint8_t> frame) {
  std::string out;
  out.reserve(frame.size() * 2 + 2);
  out.push_back('\x02');
  for (uint8_t b : frame) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
  out.push_back('\r');
  return out;
}

size_t FrameLength(std::span<const uint8_t> report) {
  if (report.empty()) return 0;
  size_t len = 0;
  switch (report[0]) {
    case 0x02:
      len = report.size() >= 3 ? report[2] + 3u : 0;
      break;
    case 0xF1:
    case 0xF3:
      len = 8;
      break;
    case 0xF2:
    case 0xF4:
    case 0xF5:
      len = 64;
      break;
    default:
      return 0;
  }
  return len < report.size() ? len : report.size();
}

}  // namespace tpcsim
