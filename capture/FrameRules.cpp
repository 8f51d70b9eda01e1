#include "capture/FrameRules.h"

#include <algorithm>

#include "capture/HexCodec.h"

namespace capture {

size_t FrameLength(const uint8_t* frame, size_t len) {
  if (frame == nullptr || len == 0) return 0;
  size_t own = 0;
  switch (frame[0]) {
    case 0x02:
      own = len >= 3 ? frame[2] + 3u : 0;
      break;
    case 0xF1:
    case 0xF3:
      own = 8;
      break;
    case 0xF2:
    case 0xF4:
    case 0xF5:
      own = 64;
      break;
    default:
      return 0;
  }
  return std::min(own, len);
}

size_t RecordedLength(const uint8_t* frame, size_t len) {
  const size_t own = FrameLength(frame, len);
  return own > 0 ? own : len;
}

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

bool IsReplyTo(const uint8_t* cmd, int cmdLen, const uint8_t* reply, int len) {
  if (cmd == nullptr || cmdLen < 1 || reply == nullptr || len < 1) return false;
  if (cmd[0] == 0xF1 || cmd[0] == 0xF2) return reply[0] == 0xF3 || reply[0] == 0xF4;
  if (cmd[0] != 0x02 || len < 4 || reply[0] != 0x02) return false;
  if (reply[1] == 0x4B && reply[2] != 2) return false;  // a data report
  if (reply[1] == 0x4D) return false;                   // a coordinate report
  if (cmdLen < 4) return reply[1] == 0x4C || reply[1] == 0x4E;
  const bool group = reply[1] == cmd[1] || (reply[1] == 0x4B && cmd[1] == 0x4E);
  return group && reply[3] == cmd[3];
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
    const int hi = HexDigit(static_cast<char>(packet[i]));
    const int lo = HexDigit(static_cast<char>(packet[i + 1]));
    if (hi < 0 || lo < 0) return Bytes(packet, packet + len);
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return out;
}

}  // namespace capture
