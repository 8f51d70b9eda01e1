#include "sim/SimHex.h"

#include "capture/FrameRules.h"
#include "capture/HexCodec.h"

namespace tpcsim {

std::string HexLine(std::span<const uint8_t> bytes) {
  return capture::ToHex(bytes, ' ');
}

int HexDigit(char c) {
  return capture::HexDigit(c);
}

std::optional<Bytes> ParseHex(std::string_view text) {
  Bytes out;
  if (!capture::DecodeHex(text, out, true)) return std::nullopt;
  return out;
}

std::string SerialPacket(std::span<const uint8_t> frame) {
  std::string out(1, '\x02');
  capture::AppendHex(out, frame);
  out.push_back('\r');
  return out;
}

size_t FrameLength(std::span<const uint8_t> report) {
  return capture::FrameLength(report.data(), report.size());
}

}  // namespace tpcsim
