#include "records/HtmlReport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cmath>
#include <map>
#include <set>
#include <sstream>

#include "records/SvgChart.h"

namespace records {

namespace {

using Esc = SvgChart;

struct Tally {
  long units = 0, passed = 0;
};

// "X12" -> ('X', 12); anything else (a number too long for one) is no electrode.
bool Electrode(const std::string& item, char& axis, int& index) {
  if (item.size() < 2 || item.size() > 4 || (item[0] != 'X' && item[0] != 'Y')) return false;
  index = 0;
  for (size_t i = 1; i < item.size(); ++i) {
    if (item[i] < '0' || item[i] > '9') return false;
    index = index * 10 + (item[i] - '0');
  }
  axis = item[0];
  return true;
}

bool ElectrodeLess(const std::string& a, const std::string& b) {
  char aa = 0, ab = 0;
  int ia = 0, ib = 0;
  const bool ea = Electrode(a, aa, ia), eb = Electrode(b, ab, ib);
  if (ea && eb) return aa != ab ? aa < ab : ia < ib;
  if (ea != eb) return ea;
  return a < b;
}

std::string Row(const std::vector<std::string>& cells, bool head = false) {
  std::string o = "<tr>";
  for (const std::string& c : cells)
    o += (head ? "<th>" : "<td>") + Esc::Escape(c) + (head ? "</th>" : "</td>");
  return o + "</tr>\n";
}

// A table of many rows scrolls within the page.
std::string Table(size_t rows) { return rows > 15 ? "<div class=\"scroll\"><table>" : "<div><table>"; }
const char* const kTableEnd = "</table></div>\n";

std::string YieldSection(const std::string& title, const std::string& what,
                         const std::map<std::string, Tally>& rows) {
  std::ostringstream o;
  o << "<h2>" << title << "</h2>\n";
  if (rows.empty()) return o.str() + "<p>No unit tested.</p>\n";
  std::vector<SvgChart::Bar> bars;
  for (const auto& [key, t] : rows)
    bars.push_back({key, t.units ? 100.0 * double(t.passed) / double(t.units) : 0,
                    HtmlReport::Percent(t.passed, t.units)});
  o << "<figure>" << SvgChart::Bars(bars, 100, "%", false, title) << "</figure>\n"
    << Table(rows.size()) << Row({what, "units first tested", "passed first time", "first-pass yield"}, true);
  for (const auto& [key, t] : rows)
    o << Row({key, std::to_string(t.units), std::to_string(t.passed),
              HtmlReport::Percent(t.passed, t.units)});
  o << kTableEnd;
  return o.str();
}

std::string ParetoSection(const ReportData& d) {
  std::ostringstream o;
  o << "<h2>Failing checks</h2>\n";
  if (d.byCheck.empty()) return o.str() + "<p>No check failed.</p>\n";
  std::vector<SvgChart::Bar> bars;
  long total = 0;
  for (const auto& f : d.byCheck) total += f.failures;
  for (size_t i = 0; i < d.byCheck.size() && i < 25; ++i)
    bars.push_back({d.byCheck[i].group + " " + d.byCheck[i].name,
                    double(d.byCheck[i].failures), std::to_string(d.byCheck[i].failures)});
  o << "<p>Failed values per check, most first" << (d.byCheck.size() > 25 ? " (the first 25)" : "")
    << "; the line is their running share of all " << total << " failed values.</p>\n"
    << "<figure>" << SvgChart::Bars(bars, 0, "failed values", true, "Failing checks")
    << "</figure>\n" << Table(d.byCheck.size())
    << Row({"group", "check", "failed values", "units failing it", "cumulative share"}, true);
  long running = 0;
  for (const auto& f : d.byCheck) {
    running += f.failures;
    o << Row({f.group, f.name, std::to_string(f.failures), std::to_string(f.units),
              SvgChart::Number(100.0 * double(running) / double(total), 1) + " %"});
  }
  o << kTableEnd;
  return o.str();
}

// Every electrode of a group: those with a daily mean or a failure.
std::map<std::string, std::set<std::string, decltype(&ElectrodeLess)>> ElectrodesByGroup(
    const ReportData& d) {
  std::map<std::string, std::set<std::string, decltype(&ElectrodeLess)>> out;
  auto add = [&](const std::string& g, const std::string& item) {
    char a;
    int i;
    if (!Electrode(item, a, i)) return;
    out.try_emplace(g, &ElectrodeLess).first->second.insert(item);
  };
  for (const auto& f : d.byItem) add(f.group, f.name);
  for (const auto& m : d.means) add(m.group, m.item);
  return out;
}

std::string MapSection(const ReportData& d, bool link) {
  std::ostringstream o;
  o << "<h2>Failures per electrode</h2>\n<p>Units with a failed value on the electrode (any "
       "check of the group).</p>\n";
  const auto groups = ElectrodesByGroup(d);
  std::map<std::pair<std::string, std::string>, const ReportData::Failures*> failures;
  for (const auto& f : d.byItem) failures[{f.group, f.name}] = &f;
  if (groups.empty()) return o.str() + "<p>No electrode values.</p>\n";
  for (const auto& [group, items] : groups) {
    o << "<h3>" << Esc::Escape(group) << "</h3>\n";
    double max = 0;
    for (const auto& it : items)
      if (auto f = failures.find({group, it}); f != failures.end())
        max = std::max(max, double(f->second->units));
    for (char axis : {'X', 'Y'}) {
      std::vector<SvgChart::Cell> cells;
      for (const auto& it : items) {
        if (it[0] != axis) continue;
        auto f = failures.find({group, it});
        const bool failed = f != failures.end();
        cells.push_back({it, failed ? double(f->second->units) : 0.0,
                         link && failed ? "#failed-" + HtmlReport::Anchor(group + " " + it) : ""});
      }
      if (!cells.empty())
        o << "<figure class=\"strip\">"
          << SvgChart::Strip(cells, max, group + " " + std::string(1, axis) + " electrodes")
          << "</figure>\n";
    }
    o << Table(items.size()) << Row({"electrode", "units failing", "failed values"}, true);
    bool any = false;
    for (const auto& it : items)
      if (auto f = failures.find({group, it}); f != failures.end()) {
        if (link)
          o << "<tr><td><a href=\"#failed-" << HtmlReport::Anchor(group + " " + it) << "\">"
            << Esc::Escape(it) << "</a></td><td>" << f->second->units << "</td><td>"
            << f->second->failures << "</td></tr>\n";
        else
          o << Row({it, std::to_string(f->second->units), std::to_string(f->second->failures)});
        any = true;
      }
    if (!any) o << "<tr><td colspan=\"3\">none</td></tr>";
    o << kTableEnd;
  }
  return o.str();
}

std::string DriftSection(const ReportData& d) {
  std::ostringstream o;
  o << "<h2>Drift of the electrode means</h2>\n<p>Each electrode's mean over the units of a "
       "day (UTC); X electrodes in blue, Y in orange.</p>\n";
  std::map<std::string, std::vector<const ReportData::DailyMean*>> byGroup;
  for (const auto& m : d.means) byGroup[m.group].push_back(&m);
  if (byGroup.empty()) return o.str() + "<p>No means recorded.</p>\n";
  for (const auto& [group, means] : byGroup) {
    std::set<std::string> daySet;
    std::map<std::string, std::map<std::string, double>, decltype(&ElectrodeLess)> series(
        &ElectrodeLess);
    for (const auto* m : means) {
      char a;
      int i;
      if (!Electrode(m->item, a, i)) continue;
      daySet.insert(m->day);
      series[m->item][m->day] = m->mean;
    }
    if (series.empty()) continue;
    const std::vector<std::string> days(daySet.begin(), daySet.end());
    std::vector<SvgChart::Series> lines;
    for (const auto& [item, values] : series) {
      SvgChart::Series s;
      s.name = item;
      s.colour = item[0] == 'X' ? "#1f77b4" : "#ff7f0e";
      for (const auto& day : days) {
        auto v = values.find(day);
        s.y.push_back(v == values.end() ? std::nullopt : std::optional<double>(v->second));
      }
      lines.push_back(std::move(s));
    }
    o << "<h3>" << Esc::Escape(group) << "</h3>\n<figure>"
      << SvgChart::Lines(days, lines, "mean (counts)", group + " electrode means") << "</figure>\n"
      << Table(series.size())
      << Row({"electrode", "first day", "mean", "last day", "mean", "change"}, true);
    for (const auto& [item, values] : series) {
      const auto& first = *values.begin();
      const auto& last = *values.rbegin();
      o << Row({item, first.first, SvgChart::Number(first.second, 2), last.first,
                SvgChart::Number(last.second, 2), SvgChart::Number(last.second - first.second, 2)});
    }
    o << kTableEnd;
  }
  return o.str();
}

const char* const kStyle =
    "body{font-family:sans-serif;margin:24px;color:#222;max-width:960px}"
    "h1{font-size:24px}h2{font-size:19px;margin-top:32px;border-bottom:1px solid #ccc}"
    "h3{font-size:15px}figure{margin:8px 0}svg{max-width:100%;height:auto}"
    "figure.strip svg{max-width:none}"
    "table{border-collapse:collapse;font-size:13px;margin:8px 0}"
    "td,th{border:1px solid #ccc;padding:2px 8px;text-align:right}"
    "td:first-child,th:first-child{text-align:left}th{background:#f0f0f0}"
    ".figure{font-size:40px;font-weight:bold;color:#2a6a2a}"
    "div.scroll{max-height:320px;overflow-y:auto;display:inline-block}"
    ".cpk-bad{background:#f6c6c0}.cpk-mid{background:#fbe9b7}.cpk-good{background:#d3ecd0}"
    ".alarms{border:2px solid #d62728;padding:4px 12px;background:#fff6f5}"
    ":target{outline:3px solid #f0a000}";

}  // namespace

std::string HtmlReport::Percent(long passed, long units) {
  if (units <= 0) return "-";
  return SvgChart::Number(100.0 * double(passed) / double(units), 1) + " %";
}

std::string HtmlReport::Anchor(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c))
      out += char(c);
    else if (!out.empty() && out.back() != '-')
      out += '-';
    else if (c >= 0x80) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02x", c);
      out += hex;
    }
  }
  return out;
}

std::string HtmlReport::Render(const ReportData& d, const Extra& extra) {
  std::map<std::string, Tally> byStation, byDay;
  std::set<std::string> kinds;
  for (const auto& f : d.firstPass) kinds.insert(f.kind);
  for (const auto& f : d.firstPass) {
    const std::string station = kinds.size() > 1 ? f.station + " (" + f.kind + ")" : f.station;
    byStation[station].units += f.units;
    byStation[station].passed += f.passed;
    byDay[f.day].units += f.units;
    byDay[f.day].passed += f.passed;
  }
  std::ostringstream o;
  o << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
    << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
       "style-src 'unsafe-inline'; img-src data:\">"
    << "<title>Production yield report</title><style>" << kStyle << "</style></head><body>\n"
    << "<h1>Production yield report</h1>\n<p>"
    << (d.filter.station.empty() ? "All stations" : "Station " + Esc::Escape(d.filter.station))
    << ", " << (d.filter.since.empty() ? "all days" : "since " + Esc::Escape(d.filter.since))
    << " (UTC). " << d.runs << " runs of " << d.units << " units"
    << (d.runsWithoutSerial > 0
            ? " (<span id=\"runs-without-serial\">" + std::to_string(d.runsWithoutSerial) +
                  "</span> runs had no serial: each is counted as a unit of its own)"
            : std::string())
    << ". Made " << d.generatedUtc << ".</p>\n<p>First-pass yield: <span class=\"figure\" id=\"first-pass-yield\">"
    << Percent(d.FirstPassPassed(), d.FirstPassUnits()) << "</span> ("
    << "<span id=\"first-pass-passed\">" << d.FirstPassPassed() << "</span> of "
    << "<span id=\"first-pass-units\">" << d.FirstPassUnits()
    << "</span> units passed their first test at a station)</p>\n"
    << extra.top;
  if (!extra.replaceYield)
    o << YieldSection("First-pass yield per station", "station", byStation)
      << YieldSection("First-pass yield per day", "day (UTC)", byDay);
  o << ParetoSection(d) << MapSection(d, extra.linkItems) << DriftSection(d) << extra.bottom
    << "</body></html>\n";
  return o.str();
}

}  // namespace records
