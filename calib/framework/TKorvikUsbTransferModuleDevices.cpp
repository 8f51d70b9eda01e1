#include "TKorvikUsbTransferModuleDevices.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr uint32_t kVid = 0x227D;
constexpr const char* kMaker = "KORVIK";

const std::array<TKorvikUsbDeviceRow, KorvikUsbDeviceCount> kTable = {{
    {1, kMaker, "Touch panel controller", 0x0102, kVid, 1},
    {2, kMaker, "Touch panel controller", 0x0103, kVid, 1},
    {3, kMaker, "DFU loader NUC101 16MHz", 0x0104, kVid, 0},
    {4, kMaker, "DFU loader NUC101 12MHz", 0x0105, kVid, 0},
    {5, kMaker, "DFU loader TR16C 16MHz", 0x0106, kVid, 0},
    {6, kMaker, "DFU loader TR16C 12MHz", 0x0107, kVid, 0},
    {7, kMaker, "DFU loader R8C", 0x0108, kVid, 0},
    {8, kMaker, "Touch panel controller", 0x0109, kVid, 1},
    {9, kMaker, "Module tester", 0x0110, kVid, 1},
    {10, kMaker, "Touch panel controller", 0x010A, kVid, 1},
    {11, kMaker, "Touch panel controller", 0x010B, kVid, 1},
    {12, kMaker, "Touch panel controller", 0x0800, kVid, 1},
    {13, kMaker, "Touch panel controller", 0x0907, kVid, 1},
    {14, kMaker, "Touch panel controller", 0x0200, kVid, 1},
}};

std::string TextAfter(const std::string& upper, const std::string& marker, size_t count) {
  const size_t at = upper.find(marker);
  if (at == std::string::npos) return {};
  return upper.substr(at + marker.size(), count);
}

}  // namespace

const std::array<TKorvikUsbDeviceRow, KorvikUsbDeviceCount>& KorvikUsbDeviceTable() {
  return kTable;
}

const TKorvikUsbDeviceRow* KorvikUsbDeviceByRow(int row) {
  if (row < 1 || row > KorvikUsbDeviceCount) return nullptr;
  return &kTable[static_cast<size_t>(row - 1)];
}

TKorvikUsbNoticeIds KorvikUsbReadNoticePath(const std::string& path) {
  std::string upper = path;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return {TextAfter(upper, "PID_", 4), TextAfter(upper, "VID_", 4), TextAfter(upper, "MI_", 2)};
}

uint32_t KorvikUsbHexValue(const std::string& text) {
  // Reads like "0x" + text: every character must be a hex digit, else the text counts as 0.
  if (text.empty() || text.size() > 8) return 0;
  uint32_t value = 0;
  for (unsigned char c : text) {
    if (!std::isxdigit(c)) return 0;
    const uint32_t digit = std::isdigit(c) ? c - '0' : std::toupper(c) - 'A' + 10;
    value = value * 16 + digit;
  }
  return value;
}
