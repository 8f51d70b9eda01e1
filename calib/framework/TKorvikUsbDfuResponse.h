#pragma once

#include "calib/framework/TKorvikUsbResponse.h"

// Boot loader answers (frames F3, 8 bytes, and F4, 64 bytes).
class TKorvikUsbDfuResponse : public TKorvikUsbResponse {
 public:
  using TKorvikUsbResponse::TKorvikUsbResponse;
};

class TKorvikUsbDfuResGetBootSelect : public TKorvikUsbDfuResponse {
 public:
  using TKorvikUsbDfuResponse::TKorvikUsbDfuResponse;

  // Byte 3: 0 gives 0, 1 gives 1, anything else (or too short) 2.
  std::uint8_t BootSelect() const;
  // Byte 4: 1 gives 1, 0x11 gives 2, anything else 0.
  std::uint8_t LoaderState() const;
  // Bytes 4-5, low byte first, masked with 0xFF0F.
  std::uint16_t McuId() const;
};

class TKorvikUsbDfuResSetBootSelect : public TKorvikUsbDfuResponse {
 public:
  using TKorvikUsbDfuResponse::TKorvikUsbDfuResponse;
};

class TKorvikUsbDfuResErasePage : public TKorvikUsbDfuResponse {
 public:
  using TKorvikUsbDfuResponse::TKorvikUsbDfuResponse;
};

class TKorvikUsbDfuResProgram : public TKorvikUsbDfuResponse {
 public:
  using TKorvikUsbDfuResponse::TKorvikUsbDfuResponse;
};

class TKorvikUsbDfuResRead : public TKorvikUsbDfuResponse {
 public:
  using TKorvikUsbDfuResponse::TKorvikUsbDfuResponse;
};

class TKorvikUsbDfuResSetScan : public TKorvikUsbDfuResponse {
 public:
  using TKorvikUsbDfuResponse::TKorvikUsbDfuResponse;
};
