#include "cli/LineFormats.h"

#include <cstdio>

using records::LineData;

namespace {

nlohmann::json Opt(const std::optional<double>& v) {
  return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
}

nlohmann::json Ratio(long passed, long units) {
  return units > 0 ? nlohmann::json(double(passed) / double(units)) : nlohmann::json(nullptr);
}

nlohmann::json YieldJson(const LineData::Yield& y) {
  return {{"key", y.key},
          {"units", y.units},
          {"first_pass_passed", y.firstPassed},
          {"first_pass_yield", Ratio(y.firstPassed, y.units)},
          {"final_passed", y.finalPassed},
          {"final_yield", Ratio(y.finalPassed, y.units)},
          {"retests", y.retests}};
}

nlohmann::json YieldList(const std::vector<LineData::Yield>& rows) {
  nlohmann::json a = nlohmann::json::array();
  for (const auto& y : rows) a.push_back(YieldJson(y));
  return a;
}

std::string Field(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string o = "\"";
  for (char c : s) o += c == '"' ? std::string("\"\"") : std::string(1, c);
  return o + "\"";
}

std::string Num(double v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

}  // namespace

nlohmann::json ReportJson(const records::ReportData& d, const LineData& l,
                          const records::LineOptions& o) {
  nlohmann::json j;
  j["generated_utc"] = d.generatedUtc;
  j["filter"] = {{"since", d.filter.since}, {"station", d.filter.station}};
  j["runs"] = d.runs;
  j["units"] = d.units;
  j["target"] = Opt(o.target);
  j["yield"] = YieldJson(l.all);
  j["yield"].erase("key");
  j["yield_by_station"] = YieldList(l.byStation);
  j["yield_by_operator"] = YieldList(l.byOperator);
  j["yield_by_shift"] = YieldList(l.byShift);
  j["shifts"] = l.shiftNote;
  j["yield_by_day"] = YieldList(l.byDay);
  j["volume"] = {{"units_per_hour", l.unitsPerHour},
                 {"busiest_hour_utc", l.busiestHour},
                 {"busiest_hour_units", l.busiestHourUnits}};
  j["test_time"] = nlohmann::json::array();
  for (const auto& t : l.testTimes)
    j["test_time"].push_back(
        {{"station", t.station.empty() ? nlohmann::json(nullptr) : nlohmann::json(t.station)},
         {"runs", t.runs},
         {"median_s", t.median},
         {"p95_s", t.p95}});
  j["capability"] = nlohmann::json::array();
  for (const auto& c : l.capability)
    j["capability"].push_back({{"group", c.group},
                               {"item", c.item},
                               {"check", c.check},
                               {"n", c.c.n},
                               {"mean", c.c.mean},
                               {"sd", c.c.sd},
                               {"low", Opt(c.low)},
                               {"high", Opt(c.high)},
                               {"cp", Opt(c.c.cp)},
                               {"cpk", Opt(c.c.cpk)}});
  j["alarms"] = nlohmann::json::array();
  for (const auto& a : l.alarms) {
    const auto& c = l.charts[size_t(a.chart)];
    const auto& p = c.points[a.point];
    j["alarms"].push_back({{"kind", c.kind},
                           {"group", c.group},
                           {"item", c.item},
                           {"check", c.check},
                           {"rule", analysis::RuleText(a.rule)},
                           {"direction", a.high ? "high" : "low"},
                           {"since_unit", p.serial},
                           {"since_run", p.uuid},
                           {"since_utc", p.time},
                           {"station", p.station},
                           {"reference_units", c.referenceCount},
                           {"reference_mean", c.centre},
                           {"reference_sigma", c.sigma}});
  }
  j["failing_checks"] = nlohmann::json::array();
  for (const auto& f : d.byCheck)
    j["failing_checks"].push_back(
        {{"group", f.group}, {"check", f.name}, {"failed_values", f.failures}, {"units", f.units}});
  j["failing_electrodes"] = nlohmann::json::array();
  for (const auto& f : d.byItem)
    j["failing_electrodes"].push_back({{"group", f.group},
                                       {"electrode", f.name},
                                       {"failed_values", f.failures},
                                       {"units", f.units}});
  return j;
}

std::string ReportCsv(const records::ReportData& d, const LineData& l) {
  std::string o = "section,group,name,figure,value\r\n";
  auto row = [&](const std::string& section, const std::string& group, const std::string& name,
                 const std::string& figure, const std::string& value) {
    o += Field(section) + "," + Field(group) + "," + Field(name) + "," + Field(figure) + "," +
         Field(value) + "\r\n";
  };
  auto yields = [&](const std::string& by, const std::vector<LineData::Yield>& rows) {
    for (const auto& y : rows) {
      row("yield", by, y.key, "units", std::to_string(y.units));
      row("yield", by, y.key, "first_pass_passed", std::to_string(y.firstPassed));
      if (y.units)
        row("yield", by, y.key, "first_pass_yield", Num(double(y.firstPassed) / double(y.units)));
      row("yield", by, y.key, "final_passed", std::to_string(y.finalPassed));
      if (y.units)
        row("yield", by, y.key, "final_yield", Num(double(y.finalPassed) / double(y.units)));
      row("yield", by, y.key, "retests", std::to_string(y.retests));
    }
  };
  LineData::Yield all = l.all;
  all.key = "all";
  yields("all", {all});
  yields("station", l.byStation);
  yields("operator", l.byOperator);
  yields("shift", l.byShift);
  yields("day", l.byDay);
  row("volume", "", "", "units_per_hour", Num(l.unitsPerHour));
  for (const auto& t : l.testTimes) {
    row("test_time", "station", t.station.empty() ? "all" : t.station, "median_s", Num(t.median));
    row("test_time", "station", t.station.empty() ? "all" : t.station, "p95_s", Num(t.p95));
  }
  for (const auto& c : l.capability) {
    const std::string name = (c.item.empty() ? "" : c.item + " ") + c.check;
    row("capability", c.group, name, "n", std::to_string(c.c.n));
    row("capability", c.group, name, "mean", Num(c.c.mean));
    row("capability", c.group, name, "sd", Num(c.c.sd));
    if (c.c.cp) row("capability", c.group, name, "cp", Num(*c.c.cp));
    if (c.c.cpk) row("capability", c.group, name, "cpk", Num(*c.c.cpk));
  }
  for (const auto& a : l.alarms) {
    const auto& c = l.charts[size_t(a.chart)];
    const auto& p = c.points[a.point];
    const std::string name = (c.item.empty() ? "" : c.item + " ") + c.check;
    row("alarm", c.group, name, "rule",
        analysis::RuleText(a.rule) + (a.high ? " (high)" : " (low)"));
    row("alarm", c.group, name, "since_unit", p.serial);
    row("alarm", c.group, name, "since_utc", p.time);
  }
  for (const auto& f : d.byItem) {
    row("failures", f.group, f.name, "units", std::to_string(f.units));
    row("failures", f.group, f.name, "failed_values", std::to_string(f.failures));
  }
  return o;
}
