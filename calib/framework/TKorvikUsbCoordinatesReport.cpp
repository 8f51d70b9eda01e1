#include "calib/framework/TKorvikUsbCoordinatesReport.h"

TKorvikUsbCoordinatesReport::TKorvikUsbCoordinatesReport(TKorvikObj* owner,
                                                         std::span<const std::uint8_t> content)
    : TKorvikUsbReport(owner, content, KindCoordinates) {
  Parse();
}

void TKorvikUsbCoordinatesReport::Parse() {
  const std::size_t n = CoordinateCount();
  FCoordinates.assign(n, TKorvikCoordinate{});
  if (Length() == n * 6 + 4) {
    FEntrySize = 6;
  } else if (Length() == n * 10 + 4) {
    FEntrySize = 10;
  } else {
    Log(KorvikFormat("TKorvikUsbCoordinatesReport.Create error, Length: 0x%2.2x",
                     static_cast<unsigned>(Length())),
        7);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t at = 4 + i * FEntrySize;
    TKorvikCoordinate& entry = FCoordinates[i];
    entry.flag = ByteAt(at);
    entry.id = ByteAt(at + 1);
    entry.x = WordAt(at + 2);
    entry.y = WordAt(at + 4);
    if (entry.flag != 0 && entry.flag != 4 && entry.flag != 7) {
      Log(KorvikFormat("Fixing wrong Coordinate%2.2d-Flag in creating argument: %2.2x -> %2.2x",
                       static_cast<int>(i), entry.flag, 0),
          7);
      entry.flag = 0;
    }
  }
}
