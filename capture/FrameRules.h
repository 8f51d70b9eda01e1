// What a capture needs to know about frames: which bytes of a command count, which
// device frame answers it, the negative answer, and serial packets back to frames.
#pragma once

#include <cstdint>
#include <vector>

namespace capture {

using Bytes = std::vector<uint8_t>;

// The bytes of a host frame that make the command: a type 02 frame up to its length
// byte (the buffer a host hands its link may carry zeros behind it), F1/F3 8 bytes,
// F2/F4 64; anything else whole.
Bytes CommandKey(const uint8_t* frame, int len);

// True when `reply` (device to host) answers `command`: same group and sub-command
// for type 02, an F3 or F4 frame for F1 and F2.
bool IsReplyTo(const Bytes& command, const uint8_t* reply, int len);

// "02 group 02 sub 00" for a type 02 command; empty for commands that have no
// negative acknowledgement.
Bytes NegativeAck(const Bytes& command);

// A serial packet (STX, hexadecimal text, CR) as frame bytes; bytes that are not a
// packet are kept as they are.
Bytes DecodeSerialPacket(const uint8_t* packet, int len);

}  // namespace capture
