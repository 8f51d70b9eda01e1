#include "calib/framework/TKorvikUsbDfuResponse.h"

std::uint8_t TKorvikUsbDfuResGetBootSelect::BootSelect() const {
  if (Length() < 4) return 2;
  const std::uint8_t value = Data()[3];
  return value <= 1 ? value : 2;
}

std::uint8_t TKorvikUsbDfuResGetBootSelect::LoaderState() const {
  if (Length() < 6) return 0;
  switch (Data()[4]) {
    case 0x01:
      return 1;
    case 0x11:
      return 2;
    default:
      return 0;
  }
}

std::uint16_t TKorvikUsbDfuResGetBootSelect::McuId() const {
  if (Length() < 6) return 0;
  return static_cast<std::uint16_t>(WordAt(4) & 0xFF0F);
}
