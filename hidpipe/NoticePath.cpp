#include "NoticePath.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace hidpipe {
namespace {

std::optional<unsigned long> parseHex(const std::string& s) {
  if (s.empty() || s.size() > 8) return std::nullopt;
  unsigned long v = 0;
  for (char c : s) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const int d = std::isdigit(static_cast<unsigned char>(c))
                      ? c - '0'
                      : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
    v = v * 16 + static_cast<unsigned long>(d);
  }
  return v;
}

// The hexadecimal digits (at most maxDigits) that follow key in upper.
std::optional<unsigned long> hexAfter(const std::string& upper, const char* key, size_t maxDigits) {
  const size_t at = upper.find(key);
  if (at == std::string::npos) return std::nullopt;
  size_t pos = at + std::char_traits<char>::length(key);
  size_t end = pos;
  while (end < upper.size() && end - pos < maxDigits &&
         std::isxdigit(static_cast<unsigned char>(upper[end])))
    ++end;
  return parseHex(upper.substr(pos, end - pos));
}

}  // namespace

std::string formatNoticePath(const std::string& node, const DeviceIdentity& id) {
  char tail[48];
  if (id.iface >= 0)
    std::snprintf(tail, sizeof tail, "#VID_%04X&PID_%04X&MI_%02X", id.vid, id.pid,
                  static_cast<unsigned>(id.iface) & 0xFFu);
  else
    std::snprintf(tail, sizeof tail, "#VID_%04X&PID_%04X", id.vid, id.pid);
  return node + tail;
}

std::optional<DeviceIdentity> parseHidId(const std::string& hidId) {
  const size_t first = hidId.find(':');
  if (first == std::string::npos) return std::nullopt;
  const size_t second = hidId.find(':', first + 1);
  if (second == std::string::npos) return std::nullopt;
  const auto vid = parseHex(hidId.substr(first + 1, second - first - 1));
  const auto pid = parseHex(hidId.substr(second + 1));
  if (!vid || !pid || *vid > 0xFFFF || *pid > 0xFFFF) return std::nullopt;
  DeviceIdentity id;
  id.vid = static_cast<uint16_t>(*vid);
  id.pid = static_cast<uint16_t>(*pid);
  return id;
}

std::optional<DeviceIdentity> parseNoticePath(const std::string& path) {
  std::string upper = path;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  const auto vid = hexAfter(upper, "VID_", 4);
  const auto pid = hexAfter(upper, "PID_", 4);
  if (!vid || !pid) return std::nullopt;
  DeviceIdentity id;
  id.vid = static_cast<uint16_t>(*vid);
  id.pid = static_cast<uint16_t>(*pid);
  if (const auto mi = hexAfter(upper, "MI_", 2)) id.iface = static_cast<int>(*mi);
  return id;
}

}  // namespace hidpipe
