#pragma once

#include "calib/framework/TKorvikUsbMessage.h"

// An unsolicited report from the controller (always received).
class TKorvikUsbReport : public TKorvikUsbMessage {
 public:
  static constexpr std::uint8_t KindCoordinates = 1;
  static constexpr std::uint8_t KindRawData = 2;

  TKorvikUsbReport(TKorvikObj* owner, std::span<const std::uint8_t> content,
                   std::uint8_t reportKind);

  std::uint8_t ReportKind() const { return FReportKind; }

 private:
  std::uint8_t FReportKind = 0;
};

// Data stream report (02 4B); the payload is not parsed.
class TKorvikUsbRawDataReport : public TKorvikUsbReport {
 public:
  TKorvikUsbRawDataReport(TKorvikObj* owner, std::span<const std::uint8_t> content);
};
