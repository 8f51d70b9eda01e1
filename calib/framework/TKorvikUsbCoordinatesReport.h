#pragma once

#include <vector>

#include "calib/framework/TKorvikUsbReport.h"

struct TKorvikCoordinate {
  std::uint8_t flag = 0;
  int id = 0;
  int x = 0;
  int y = 0;
};

// Multi-touch report (02 4D): byte 3 = entry count n, entries of 6 or 10 bytes from byte 4.
class TKorvikUsbCoordinatesReport : public TKorvikUsbReport {
 public:
  TKorvikUsbCoordinatesReport(TKorvikObj* owner, std::span<const std::uint8_t> content);

  std::uint8_t CoordinateCount() const { return ByteAt(3); }
  const std::vector<TKorvikCoordinate>& Coordinates() const { return FCoordinates; }
  // 6 or 10, 0 when the length fits neither.
  std::size_t EntrySize() const { return FEntrySize; }

 private:
  void Parse();

  std::vector<TKorvikCoordinate> FCoordinates;
  std::size_t FEntrySize = 0;
};
