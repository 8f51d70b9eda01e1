// The USB devices Lumora knows, and the reading of device notice paths.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct TKorvikUsbDeviceRow {
  int Row;  // 1 to 14
  const char* Maker;
  const char* Description;
  uint32_t Pid;
  uint32_t Vid;
  uint8_t Interface;
};

constexpr int KorvikUsbDeviceCount = 14;

// Rows in search order; row n sits at index n - 1.
const std::array<TKorvikUsbDeviceRow, KorvikUsbDeviceCount>& KorvikUsbDeviceTable();

// The row with that number (1 to 14), or null.
const TKorvikUsbDeviceRow* KorvikUsbDeviceByRow(int row);

// Identity texts read from a device notice path.
struct TKorvikUsbNoticeIds {
  std::string Pid;        // the 4 characters after "PID_"
  std::string Vid;        // the 4 characters after "VID_"
  std::string Interface;  // the 2 characters after "MI_"
};

// Reads the identity texts from the upper-cased path; a missing marker leaves its text empty.
TKorvikUsbNoticeIds KorvikUsbReadNoticePath(const std::string& path);

// A hexadecimal text as a number; unreadable text counts as 0.
uint32_t KorvikUsbHexValue(const std::string& text);
