// Command strings to frames, both encodings. The two must agree: a string the serial
// encoding accepts stands for the same bytes as its USB frame.
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "link/CSerialFrameAssembler.h"
#include "link/CommandString.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::vector<uint8_t> DecodeSerial(const uint8_t* packet, int len) {
  CSerialFrameAssembler a;
  std::memcpy(a.RawBuffer(), packet, static_cast<size_t>(len));
  a.SetRawCount(len);
  static uint8_t out[CSerialFrameAssembler::kDecodedSize];
  int n = a.Scan(out);
  return {out, out + n};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // SendCmd takes at most kMaxLength characters; longer strings are tried as well, the
  // conversions must stay inside their buffers for any text.
  std::string_view cmd(reinterpret_cast<const char*>(data), size);
  const int start = CommandString::HexStart(cmd);

  uint8_t usb[CommandString::kUsbBufferSize];
  const int usbLen = CommandString::ToUsbFrame(cmd, usb);
  Check((start < 0) == (usbLen < 0));
  Check(usbLen <= CommandString::kUsbBufferSize);

  uint8_t packet[CommandString::kMaxPacketSize];
  const int packetLen = CommandString::ToSerialPacket(cmd, packet);
  if (start < 0) Check(packetLen < 0);
  if (packetLen < 0) return 0;
  Check(packetLen >= 2 && packetLen <= CommandString::kMaxPacketSize);
  Check(packet[0] == 0x02 && packet[packetLen - 1] == 0x0D);
  for (int i = 1; i < packetLen - 1; ++i) Check(CommandString::HexValue(char(packet[i])) >= 0);

  // Both encodings carry the same frame when the hexadecimal text has whole pairs.
  const int digits = packetLen - 2;
  if (digits % 2 == 0 && cmd.size() <= size_t(CommandString::kMaxLength)) {
    std::vector<uint8_t> serial = DecodeSerial(packet, packetLen);
    Check(serial.size() == size_t(digits / 2));
    Check(usbLen >= digits / 2);
    Check(serial.empty() || std::memcmp(serial.data(), usb, serial.size()) == 0);
  }
  return 0;
}
