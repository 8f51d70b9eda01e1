#include "calib/framework/TKorvikUsbReport.h"

TKorvikUsbReport::TKorvikUsbReport(TKorvikObj* owner, std::span<const std::uint8_t> content,
                                   std::uint8_t reportKind)
    : TKorvikUsbMessage(owner, content, 1), FReportKind(reportKind) {}

TKorvikUsbRawDataReport::TKorvikUsbRawDataReport(TKorvikObj* owner,
                                                 std::span<const std::uint8_t> content)
    : TKorvikUsbReport(owner, content, KindRawData) {}
