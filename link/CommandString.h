// Command strings ("SEND 024C020400 ") and the frames they stand for on each link.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CommandString {
 public:
  static constexpr int kMaxLength = 128;      // characters of a command string
  static constexpr int kUsbBufferSize = 128;  // zero-filled buffer handed to the USB link
  static constexpr int kMaxPacketSize = kMaxLength + 2;

  // Index of the first character of the hexadecimal text (the first non-blank after the
  // first "SEND"; the string's length when only blanks follow), or -1 without "SEND".
  static int HexStart(std::string_view cmd);

  // USB: the frame at the start of a zero-filled 128-byte buffer. Returns the number of
  // bytes read from the text (pairs of characters, the final blank adding one 0 byte),
  // or -1 when the string has no "SEND".
  static int ToUsbFrame(std::string_view cmd, uint8_t (&out)[kUsbBufferSize]);

  // Serial: STX, the hexadecimal characters as written, CR. Returns the packet length,
  // or -1 without "SEND" or when a character before the final one is not hexadecimal.
  static int ToSerialPacket(std::string_view cmd, uint8_t (&out)[kMaxPacketSize]);

  // The firmware's name of the command ("GetVersion"), or its bytes in hexadecimal when it
  // has none here.
  static std::string Name(std::string_view cmd);

  // Value of a hexadecimal digit (either case), -1 for any other character.
  static int HexValue(char c);
};
