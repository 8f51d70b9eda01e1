#include "CommandString.h"

#include <cctype>
#include <cstring>

int CommandString::HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int CommandString::HexStart(std::string_view cmd) {
  size_t pos = cmd.find("SEND");
  if (pos == std::string_view::npos) return -1;
  pos += 4;
  while (pos < cmd.size() && cmd[pos] == ' ') ++pos;
  return static_cast<int>(pos);
}

int CommandString::ToUsbFrame(std::string_view cmd, uint8_t (&out)[kUsbBufferSize]) {
  std::memset(out, 0, sizeof(out));
  int start = HexStart(cmd);
  if (start < 0) return -1;
  std::string_view text = cmd.substr(static_cast<size_t>(start));
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  int count = 0;
  for (size_t i = 0; i < text.size() && count < kUsbBufferSize; i += 2, ++count) {
    int high = HexValue(text[i]);
    if (high < 0) continue;  // a pair that does not start with a digit gives 0
    int low = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
    out[count] = static_cast<uint8_t>(low < 0 ? high : high * 16 + low);
  }
  return count;
}

int CommandString::ToSerialPacket(std::string_view cmd, uint8_t (&out)[kMaxPacketSize]) {
  int start = HexStart(cmd);
  if (start < 0) return -1;
  // The hexadecimal text ends before the string's last character (the final blank).
  size_t end = cmd.empty() ? 0 : cmd.size() - 1;
  size_t first = static_cast<size_t>(start);
  size_t digits = end > first ? end - first : 0;
  if (digits + 2 > sizeof(out)) return -1;
  int len = 0;
  out[len++] = 0x02;
  for (size_t i = 0; i < digits; ++i) {
    char c = cmd[first + i];
    if (HexValue(c) < 0) return -1;
    out[len++] = static_cast<uint8_t>(c);
  }
  out[len++] = 0x0D;
  return len;
}

std::string CommandString::Name(std::string_view cmd) {
  uint8_t f[kUsbBufferSize];
  const int len = ToUsbFrame(cmd, f);
  struct Known {
    uint8_t group, sub;
    int param;  // -1: any
    const char* name;
  };
  static constexpr Known kNames[] = {
      {0x4C, 0x04, -1, "GetVersion"},
      {0x4C, 0x05, -1, "ChangeCoordinatesReportTarget"},
      {0x4C, 0x08, -1, "ChangeCoordinatesReportPermission"},
      {0x4C, 0x06, -1, "GetFirmwareDetail"},
      {0x4C, 0x01, -1, "Calibrate"},
      {0x4C, 0x03, -1, "SetSampingRate"},
      {0x4C, 0x07, 0, "SetM0SpiFreq"},
      {0x4C, 0x07, 1, "SetM1SpiFreq"},
      {0x4E, 0x80, -1, "StopContinuallyReport"},
      {0x4E, 0x04, -1, "GetM0RawData"},
      {0x4E, 0x05, -1, "GetM0OffsetData"},
      {0x4E, 0x06, -1, "GetM0SignalData"},
      {0x4E, 0x0C, -1, "GetM1XRawData"},
      {0x4E, 0x25, -1, "GetM1XOffsetData"},
      {0x4E, 0x26, -1, "GetM1XSignalData"},
      {0x4E, 0x0D, -1, "GetM1YRawData"},
      {0x4E, 0x2D, -1, "GetM1YOffsetData"},
      {0x4E, 0x2E, -1, "GetM1YSignalData"},
      {0x4E, 0x1C, -1, "OpenShortTestX"},
      {0x4E, 0x1D, -1, "OpenShortTestY"},
  };
  if (len >= 4 && f[0] == 0x02) {
    for (const Known& k : kNames)
      if (f[1] == k.group && f[3] == k.sub && (k.param < 0 || (len >= 5 && f[4] == k.param)))
        return k.name;
  }
  std::string hex;
  for (int i = 0; i < len && i < 16; ++i) {
    static const char kDigits[] = "0123456789ABCDEF";
    if (i > 0) hex += ' ';
    hex += kDigits[f[i] >> 4];
    hex += kDigits[f[i] & 15];
  }
  return "command " + hex;
}
