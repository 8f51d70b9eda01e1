// The line manager's sections of the yield report: drift alarms at the top, first-pass
// and final yield by station, operator, shift and day (zoomed, with the target), volume
// and test time, capability worst first, the alarms' control charts and the units behind
// every alarm and electrode failure count (links inside the page).
#pragma once

#include <string>

#include "records/HtmlReport.h"
#include "records/LineData.h"

namespace records {

class LineReport {
 public:
  static HtmlReport::Extra Sections(const LineData& line, const LineOptions& options);
  // The whole page.
  static std::string Render(const ReportData& data, const LineData& line,
                            const LineOptions& options);
};

}  // namespace records
