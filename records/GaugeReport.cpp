#include "records/GaugeReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "records/SvgChart.h"

namespace records {

namespace {

std::string N(double v, int d) {
  return SvgChart::Number(v, d);
}

}  // namespace

void SortWorstFirst(std::vector<GaugeRow>& rows) {
  std::stable_sort(rows.begin(), rows.end(), [](const GaugeRow& a, const GaugeRow& b) {
    return a.r.grrOfTotal > b.r.grrOfTotal;
  });
}

std::string GaugeConventions(const analysis::GaugeOptions& o) {
  std::ostringstream s;
  s << "ANOVA method, parts and stations crossed; the part x station interaction is "
    << (o.poolAlpha > 0
            ? "pooled into repeatability when its p-value is " + N(o.poolAlpha, 2) + " or more"
            : "never pooled")
    << "; negative variance components set to 0; study variation " << N(o.spread, 2)
    << " sigma; %GRR of the total variation and of the tolerance from standard deviations; "
       "distinct categories = floor(1.41 x sigma_part / sigma_GRR). Under 10 % acceptable, "
       "10-30 % conditional, over 30 % not acceptable.";
  return s.str();
}

std::string GaugeSection(const std::vector<GaugeRow>& rows, const analysis::GaugeOptions& o,
                         const std::string& source) {
  std::ostringstream s;
  s << "<h2 id=\"gauge\">Gauge study</h2>\n<p>" << SvgChart::Escape(source) << ". "
    << SvgChart::Escape(GaugeConventions(o)) << "</p>\n";
  if (rows.empty()) return s.str() + "<p>No study.</p>\n";
  s << (rows.size() > 15 ? "<div class=\"scroll\"><table>" : "<div><table>")
    << "<tr><th>check</th><th>parts x stations x trials</th><th>repeatability σ</th>"
       "<th>reproducibility σ</th><th>GRR σ</th><th>part σ</th><th>%GRR of total</th>"
       "<th>%GRR of tolerance</th><th>distinct categories</th><th>interaction</th><th></th></tr>\n";
  for (const auto& row : rows) {
    const auto& r = row.r;
    const double pct = r.grrOfTolerance ? std::max(r.grrOfTotal, *r.grrOfTolerance) : r.grrOfTotal;
    const char* cls = pct < 10 ? "cpk-good" : pct <= 30 ? "cpk-mid" : "cpk-bad";
    s << "<tr><td>" << SvgChart::Escape(row.check) << "</td><td>" << r.parts << " x " << r.stations
      << " x " << r.trials << "</td><td>" << N(std::sqrt(r.repeatability), 4) << "</td><td>"
      << N(std::sqrt(r.reproducibility), 4) << "</td><td>" << N(std::sqrt(r.grr), 4) << "</td><td>"
      << N(std::sqrt(r.part), 4) << "</td><td class=\"" << cls << "\">" << N(r.grrOfTotal, 1)
      << " %</td><td>" << (r.grrOfTolerance ? N(*r.grrOfTolerance, 1) + " %" : "-") << "</td><td>"
      << r.distinctCategories << "</td><td>" << (r.pooled ? "pooled" : "kept") << " (p "
      << N(r.pInteraction, 3) << ")</td><td>" << analysis::GrrClass(pct) << "</td></tr>\n";
  }
  return s.str() + "</table></div>\n";
}

std::string GaugeText(const std::vector<GaugeRow>& rows, const analysis::GaugeOptions& o) {
  std::ostringstream s;
  char line[256];
  std::snprintf(line, sizeof line, "%-26s %10s %10s %10s %10s %10s %4s  %s\n", "check", "repeat.σ",
                "reprod.σ", "GRR σ", "%GRR tot", "%GRR tol", "ndc", "verdict");
  s << line;
  for (const auto& row : rows) {
    const auto& r = row.r;
    const double pct = r.grrOfTolerance ? std::max(r.grrOfTotal, *r.grrOfTolerance) : r.grrOfTotal;
    std::snprintf(
        line, sizeof line, "%-26s %9.4f %9.4f %9.4f %9.1f%% %9s %4d  %s%s\n", row.check.c_str(),
        std::sqrt(r.repeatability), std::sqrt(r.reproducibility), std::sqrt(r.grr), r.grrOfTotal,
        r.grrOfTolerance ? (N(*r.grrOfTolerance, 1) + "%").c_str() : "-", r.distinctCategories,
        analysis::GrrClass(pct), r.pooled ? "" : " (interaction kept)");
    s << line;
  }
  s << "\n" << GaugeConventions(o) << "\n";
  return s.str();
}

}  // namespace records
