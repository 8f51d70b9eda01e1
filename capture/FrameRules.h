// What a capture needs to know about frames: how long a frame is, which bytes of a
// command count, which device frame answers it, the negative answer, and serial packets
// back to frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace capture {

using Bytes = std::vector<uint8_t>;

// A frame's own length from its header: type 02 its length byte + 3, F1/F3 8, F2/F4/F5
// 64; 0 for another type or a header cut short. Never more than `len`.
size_t FrameLength(const uint8_t* frame, size_t len);
// How much of the bytes a link handed over is recorded: the frame's own length where the
// header gives one, else all of them.
size_t RecordedLength(const uint8_t* frame, size_t len);

// The bytes of a host frame that make the command: a type 02 frame up to its length
// byte (the buffer a host hands its link may carry zeros behind it), F1/F3 8 bytes,
// F2/F4 64; anything else whole.
Bytes CommandKey(const uint8_t* frame, int len);

// True when `reply` (device to host) answers `command`: for type 02 a frame of the same
// sub-command and group, or a 0x4B acknowledgement (length byte 2) of a 0x4E command;
// data (0x4B with another length) and coordinate (0x4D) reports never answer. An F3 or
// F4 frame answers F1 and F2.
bool IsReplyTo(const uint8_t* command, int commandLen, const uint8_t* reply, int len);
inline bool IsReplyTo(const Bytes& command, const uint8_t* reply, int len) {
  return IsReplyTo(command.data(), static_cast<int>(command.size()), reply, len);
}

// "02 group 02 sub 00" for a type 02 command; empty for commands that have no
// negative acknowledgement.
Bytes NegativeAck(const Bytes& command);

// A serial packet (STX, hexadecimal text, CR) as frame bytes; bytes that are not a
// packet are kept as they are.
Bytes DecodeSerialPacket(const uint8_t* packet, int len);

}  // namespace capture
