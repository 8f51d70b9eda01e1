#include "records/LineReport.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "records/SvgChart.h"

namespace records {

namespace {

using Esc = SvgChart;

std::string Cell(const std::string& text, const std::string& cls = "") {
  return (cls.empty() ? "<td>" : "<td class=\"" + cls + "\">") + Esc::Escape(text) + "</td>";
}

std::string Head(const std::vector<std::string>& names) {
  std::string o = "<tr>";
  for (const auto& n : names) o += "<th>" + Esc::Escape(n) + "</th>";
  return o + "</tr>\n";
}

std::string Table(size_t rows) {
  return rows > 15 ? "<div class=\"scroll\"><table>" : "<div><table>";
}
const char* const kTableEnd = "</table></div>\n";

std::string Opt(const std::optional<double>& v, int decimals) {
  return v ? Esc::Number(*v, decimals) : "-";
}

std::string AlarmText(const LineData& d, const LineData::Alarm& a) {
  const auto& c = d.charts[size_t(a.chart)];
  return c.Name() + ": " + analysis::RuleText(a.rule) + (a.high ? ", above" : ", below") +
         " the reference";
}

std::string AlarmsSection(const LineData& d, const LineOptions& o) {
  std::ostringstream s;
  s << "<div class=\"alarms\" id=\"alarms\"><h2>Drift alarms</h2>\n<p>Each electrode's mean "
       "per unit (and each touch figure) against its reference, "
    << (o.referenceRuns.empty()
            ? "the period's first " + std::to_string(o.referenceUnits) + " units"
            : "the " + std::to_string(o.referenceRuns.size()) + " runs the limits were learnt from")
    << "; the newest " << o.chartUnits
    << " units charted. Western Electric rules (1 beyond 3σ; 2 of 3 beyond 2σ; 4 of 5 "
       "beyond 1σ; 8 in a row on one side) and a CUSUM (k = 0.5, h = 5). "
    << d.charts.size() << " charts.</p>\n";
  if (d.alarms.empty()) return s.str() + "<p id=\"alarm-count\">No alarm.</p></div>\n";
  s << "<p><span id=\"alarm-count\">" << d.alarms.size() << "</span> alarm(s):</p>\n"
    << Table(d.alarms.size()) << Head({"what", "rule", "since unit", "time (UTC)", "station"});
  for (size_t i = 0; i < d.alarms.size(); ++i) {
    const auto& a = d.alarms[i];
    const auto& c = d.charts[size_t(a.chart)];
    const auto& p = c.points[a.point];
    s << "<tr><td><a href=\"#alarm-" << i << "\">" << Esc::Escape(c.Name()) << "</a></td>"
      << Cell(analysis::RuleText(a.rule) + (a.high ? " (high)" : " (low)")) << Cell(p.serial)
      << Cell(p.time) << Cell(p.station) << "</tr>\n";
  }
  return s.str() + kTableEnd + "</div>\n";
}

// Yield axes from a little under the lowest yield (and target) to 100 %.
std::pair<double, double> Zoom(const std::vector<LineData::Yield>& rows,
                               const std::optional<double>& target) {
  double lo = 100;
  for (const auto& y : rows)
    if (y.units > 0) lo = std::min(lo, 100.0 * double(y.firstPassed) / double(y.units));
  if (target) lo = std::min(lo, *target);
  lo = std::max(0.0, std::floor((lo - 2) / 5) * 5);
  return {lo, 100};
}

std::string YieldTable(const std::string& title, const std::string& what,
                       const std::vector<LineData::Yield>& rows, const LineOptions& o,
                       const std::string& note = "") {
  std::ostringstream s;
  s << "<h3>" << Esc::Escape(title) << "</h3>\n";
  if (!note.empty()) s << "<p>" << Esc::Escape(note) << "</p>\n";
  if (rows.empty()) return s.str() + "<p>No unit tested.</p>\n";
  std::vector<SvgChart::Bar> bars;
  for (const auto& y : rows)
    bars.push_back({y.key, y.units ? 100.0 * double(y.firstPassed) / double(y.units) : 0,
                    YieldText(y.firstPassed, y.units)});
  const auto [lo, hi] = Zoom(rows, o.target);
  s << "<figure>" << SvgChart::YieldBars(bars, lo, hi, o.target, title + " (first pass)")
    << "</figure>\n"
    << Table(rows.size())
    << Head({what, "units", "passed first time", "first-pass yield", "passed in the end",
             "final yield", "retests"});
  for (const auto& y : rows)
    s << "<tr>" << Cell(y.key) << Cell(std::to_string(y.units))
      << Cell(std::to_string(y.firstPassed)) << Cell(YieldText(y.firstPassed, y.units))
      << Cell(std::to_string(y.finalPassed)) << Cell(YieldText(y.finalPassed, y.units))
      << Cell(std::to_string(y.retests)) << "</tr>\n";
  return s.str() + kTableEnd;
}

std::string YieldSections(const LineData& d, const LineOptions& o) {
  std::ostringstream s;
  s << "<h2 id=\"yield\">Yield and volume</h2>\n<p>First-pass yield <b id=\"line-first-pass\">"
    << YieldText(d.all.firstPassed, d.all.units)
    << "</b>, final yield after retests <b id=\"final-yield\">"
    << YieldText(d.all.finalPassed, d.all.units) << "</b> of <span id=\"line-units\">"
    << d.all.units << "</span> units; <span id=\"retests\">" << d.all.retests << "</span> retests.";
  if (o.target) s << " Target " << Esc::Number(*o.target, 1) << " %.";
  s << "</p>\n<p>Volume: " << Esc::Number(d.unitsPerHour, 1) << " units per hour with testing";
  if (!d.busiestHour.empty())
    s << ", at most " << d.busiestHourUnits << " (" << Esc::Escape(d.busiestHour) << ":00 UTC)";
  s << ".</p>\n";
  if (!d.testTimes.empty()) {
    s << "<h3>Test time</h3>\n"
      << Table(d.testTimes.size())
      << Head({"station", "runs", "median (s)", "95th percentile (s)"});
    for (const auto& t : d.testTimes)
      s << "<tr>" << Cell(t.station.empty() ? "all" : t.station) << Cell(std::to_string(t.runs))
        << Cell(Esc::Number(t.median, 1)) << Cell(Esc::Number(t.p95, 1)) << "</tr>\n";
    s << kTableEnd;
  }
  s << YieldTable("Yield per station", "station", d.byStation, o)
    << YieldTable("Yield per operator", "operator", d.byOperator, o);
  if (!o.shiftStarts.empty())
    s << YieldTable("Yield per shift", "shift", d.byShift, o, "The " + d.shiftNote + ".");
  s << YieldTable("Yield and units per day", "day (UTC)", d.byDay, o);
  return s.str();
}

std::string CapabilitySection(const LineData& d) {
  std::ostringstream s;
  s << "<h2 id=\"capability\">Capability</h2>\n<p>Every check and electrode with limits over "
       "the selected runs: Cp = (high - low) / 6σ, Cpk = the nearer limit's distance from the "
       "mean / 3σ, against the newest limits; the worst first. Red below 1.33, yellow below "
       "1.67, green from 1.67.</p>\n";
  if (d.capability.empty()) return s.str() + "<p>No values with limits.</p>\n";
  s << Table(d.capability.size())
    << Head({"group", "item", "check", "n", "mean", "sd", "low", "high", "Cp", "Cpk"});
  for (const auto& r : d.capability) {
    const std::string cls = !r.c.cpk          ? ""
                            : *r.c.cpk < 1.33 ? "cpk-bad"
                            : *r.c.cpk < 1.67 ? "cpk-mid"
                                              : "cpk-good";
    s << "<tr>" << Cell(r.group) << Cell(r.item) << Cell(r.check) << Cell(std::to_string(r.c.n))
      << Cell(Esc::Number(r.c.mean, 3)) << Cell(Esc::Number(r.c.sd, 3)) << Cell(Opt(r.low, 3))
      << Cell(Opt(r.high, 3)) << Cell(Opt(r.c.cp, 2)) << Cell(Opt(r.c.cpk, 2), cls) << "</tr>\n";
  }
  return s.str() + kTableEnd;
}

// A page stays small with hundreds of alarms.
constexpr size_t kChartsDrawn = 20, kUnitsListed = 20;

std::string AlarmCharts(const LineData& d) {
  std::ostringstream s;
  if (d.alarms.empty()) return "";
  s << "<h2>Alarms: charts and units</h2>\n<p>The first " << kChartsDrawn
    << " alarms with their charts; every alarm with the first " << kUnitsListed
    << " units from where it began.</p>\n";
  for (size_t i = 0; i < d.alarms.size(); ++i) {
    const auto& a = d.alarms[i];
    const auto& c = d.charts[size_t(a.chart)];
    std::vector<double> v;
    for (const auto& p : c.points) v.push_back(p.value);
    std::vector<size_t> marked;
    for (const auto& r : c.rules) marked.push_back(r.index);
    for (const auto& r : c.cusum.signals) marked.push_back(r.index);
    s << "<h3 id=\"alarm-" << i << "\">" << Esc::Escape(AlarmText(d, a)) << "</h3>\n<p>Reference "
      << c.referenceCount << " units: mean " << Esc::Number(c.centre, 3) << ", σ "
      << Esc::Number(c.sigma, 3) << ". Since unit " << Esc::Escape(c.points[a.point].serial) << " ("
      << Esc::Escape(c.points[a.point].time) << "). <a href=\"#alarms\">Back to the "
      << "alarms</a>.</p>\n";
    if (i < kChartsDrawn)
      s << "<figure>"
        << SvgChart::Control(v, c.referenceCount, c.centre, c.sigma, marked, "counts", c.Name())
        << "</figure>\n";
    const size_t last = std::min(c.points.size(), a.point + kUnitsListed);
    s << Table(last - a.point)
      << Head({"unit", "run", "time (UTC)", "station", "value", "σ from the reference",
               "CUSUM high", "CUSUM low"});
    for (size_t k = a.point; k < last; ++k) {
      const auto& p = c.points[k];
      const size_t after = k - c.referenceCount;
      s << "<tr>" << Cell(p.serial) << Cell(p.uuid) << Cell(p.time) << Cell(p.station)
        << Cell(Esc::Number(p.value, 3)) << Cell(Esc::Number((p.value - c.centre) / c.sigma, 2))
        << Cell(Esc::Number(c.cusum.high[after] / c.sigma, 2))
        << Cell(Esc::Number(c.cusum.low[after] / c.sigma, 2)) << "</tr>\n";
    }
    s << kTableEnd;
  }
  return s.str();
}

std::string FailedSections(const LineData& d, const LineOptions& o) {
  if (d.failed.empty()) return "";
  std::ostringstream s;
  s << "<h2 id=\"failed\">The units behind the electrode failures</h2>\n<p>For each electrode "
       "with a failed value, the newest "
    << o.failedShown << " failed values with their unit and run.</p>\n";
  for (size_t i = 0; i < d.failed.size();) {
    size_t end = i;
    while (end < d.failed.size() && d.failed[end].group == d.failed[i].group &&
           d.failed[end].item == d.failed[i].item)
      ++end;
    const std::string name = d.failed[i].group + " " + d.failed[i].item;
    s << "<h3 id=\"failed-" << HtmlReport::Anchor(name) << "\">" << Esc::Escape(name) << "</h3>\n"
      << Table(end - i)
      << Head({"time (UTC)", "unit", "run", "station", "check", "value", "limit"});
    for (size_t k = i; k < end; ++k) {
      const auto& f = d.failed[k];
      s << "<tr>" << Cell(f.time) << Cell(f.serial) << Cell(f.uuid) << Cell(f.station)
        << Cell(f.check) << Cell(f.value) << Cell(f.limit) << "</tr>\n";
    }
    s << kTableEnd;
    i = end;
  }
  return s.str();
}

}  // namespace

HtmlReport::Extra LineReport::Sections(const LineData& line, const LineOptions& options) {
  HtmlReport::Extra e;
  e.top = AlarmsSection(line, options) + YieldSections(line, options) + CapabilitySection(line);
  e.bottom = AlarmCharts(line) + FailedSections(line, options);
  e.replaceYield = true;
  e.linkItems = true;
  return e;
}

std::string LineReport::Render(const ReportData& data, const LineData& line,
                               const LineOptions& options) {
  return HtmlReport::Render(data, Sections(line, options));
}

}  // namespace records
