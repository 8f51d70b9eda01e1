// The yield report as one HTML page with everything inside it (styles, SVG charts, their
// tables); no script, nothing fetched.
#pragma once

#include <string>

#include "records/ReportData.h"

namespace records {

class HtmlReport {
 public:
  static std::string Render(const ReportData& data);
  // "93.8 %" (one decimal), "-" for no units.
  static std::string Percent(long passed, long units);
};

}  // namespace records
