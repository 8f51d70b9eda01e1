// The yield report as one HTML page with everything inside it (styles, SVG charts, their
// tables); no script, nothing fetched.
#pragma once

#include <string>

#include "records/ReportData.h"

namespace records {

// Sections of the line's figures placed into the page (see LineReport).
struct HtmlReportExtra {
  std::string top;     // after the summary: alarms, yield and volume, capability
  std::string bottom;  // after the drift: charts, the units behind the figures
  bool replaceYield = false;  // the top holds the yield sections
  bool linkItems = false;     // electrodes link to their failed values ("failed-" + Anchor)
};

class HtmlReport {
 public:
  using Extra = HtmlReportExtra;
  static std::string Render(const ReportData& data, const Extra& extra = Extra());
  // An id for a page anchor from any text (letters, digits, '-').
  static std::string Anchor(const std::string& text);
  // "93.8 %" (one decimal), "-" for no units.
  static std::string Percent(long passed, long units);
};

}  // namespace records
