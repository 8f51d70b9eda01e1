#include "capture/FrameRules.h"

#include <algorithm>

namespace capture {

namespace {
int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

Bytes CommandKey(const uint8_t* frame, int len) {
  if (frame == nullptr || len <= 0) return {};
  int keep = len;
  if (frame[0] == 0x02 && len >= 3) {
    keep = std::min(len, frame[2] + 3);
  } else if (frame[0] == 0xF1 || frame[0] == 0xF3) {
    keep = std::min(len, 8);
  } else if (frame[0] == 0xF2 || frame[0] == 0xF4) {
    keep = std::min(len, 64);
  }
  return Bytes(frame, frame + keep);
}

bool IsReplyTo(const Bytes& command, const uint8_t* reply, int len) {
  if (command.empty() || reply == nullptr || len < 1) return false;
  if (command[0] == 0x02) {
    return command.size() >= 4 && len >= 4 && reply[0] == 0x02 && reply[1] == command[1] &&
           reply[3] == command[3];
  }
  if (command[0] == 0xF1 || command[0] == 0xF2) return reply[0] == 0xF3 || reply[0] == 0xF4;
  return false;
}

Bytes NegativeAck(const Bytes& command) {
  if (command.size() < 4 || command[0] != 0x02) return {};
  return {0x02, command[1], 0x02, command[3], 0x00};
}

Bytes DecodeSerialPacket(const uint8_t* packet, int len) {
  if (packet == nullptr || len < 2 || packet[0] != 0x02 || packet[len - 1] != 0x0D) {
    return packet == nullptr || len <= 0 ? Bytes{} : Bytes(packet, packet + len);
  }
  Bytes out;
  for (int i = 1; i + 1 < len - 1; i += 2) {
    const int hi = HexDigit(packet[i]);
    const int lo = HexDigit(packet[i + 1]);
    if (hi < 0 || lo < 0) return Bytes(packet, packet + len);
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return out;
}

}  // namespace capture
