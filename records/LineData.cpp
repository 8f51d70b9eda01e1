#include "records/LineData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>
#include <sstream>

#include "analysis/RobustStats.h"
#include "records/LineSql.h"
#include "records/SvgChart.h"

namespace records {

namespace {

std::string Num(double v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

std::string HourMinute(int minutes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d", minutes / 60, minutes % 60);
  return buf;
}

// "2026-12-01T22:15" (UTC) into the minute of the local day.
int LocalMinute(const std::string& utc) {
  std::tm t{};
  if (std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                  &t.tm_min) < 4)
    return 0;
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  const std::time_t when = timegm(&t);
  std::tm local{};
  localtime_r(&when, &local);
  return local.tm_hour * 60 + local.tm_min;
}

std::string ZoneNote() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Z, UTC%z", &local);
  return buf;
}

void Add(LineData::Yield& y, long units, long first, long final, long retests) {
  y.units += units;
  y.firstPassed += first;
  y.finalPassed += final;
  y.retests += retests;
}

std::vector<LineData::Yield> Rows(const std::map<std::string, LineData::Yield>& m) {
  std::vector<LineData::Yield> out;
  for (const auto& [key, y] : m) {
    out.push_back(y);
    out.back().key = key;
  }
  return out;
}

// The value at a share of the runs, from counts per tenth of a second.
double FromHistogram(const std::map<double, long>& h, long total, double share) {
  const double want = share * double(total);
  long seen = 0;
  for (const auto& [tenths, n] : h) {
    seen += n;
    if (double(seen) >= want) return tenths / 10;
  }
  return h.empty() ? 0 : h.rbegin()->first / 10;
}

bool Query(Connection& db, std::string_view sql, const std::vector<SqlValue>& params,
           std::vector<SqlRow>& rows, std::string& error) {
  rows.clear();
  if (db.Exec(sql, params, &rows)) return true;
  error = db.Error();
  return false;
}

bool LoadYield(Connection& db, const std::vector<SqlValue>& where, const LineOptions& o,
               LineData& d, std::string& error) {
  const bool minutes =
      std::any_of(o.shiftStarts.begin(), o.shiftStarts.end(), [](int m) { return m % 60 != 0; });
  std::vector<SqlRow> rows;
  if (!Query(db, sql::UnitsByTime(minutes ? 16 : 13), where, rows, error)) return false;
  std::map<std::string, LineData::Yield> station, op, shift, day;
  std::map<std::string, long> hours;
  std::set<std::string> kinds;
  for (const SqlRow& r : rows) kinds.insert(AsText(r[2]));
  for (const SqlRow& r : rows) {
    const std::string at = AsText(r[3]);
    const long units = long(AsInt(r[4])), first = long(AsInt(r[5])), final = long(AsInt(r[6])),
               retests = long(AsInt(r[7]));
    const std::string kind = kinds.size() > 1 ? " (" + AsText(r[2]) + ")" : "";
    Add(d.all, units, first, final, retests);
    Add(station[AsText(r[0]) + kind], units, first, final, retests);
    Add(op[AsText(r[1]).empty() ? "(none)" : AsText(r[1])], units, first, final, retests);
    Add(day[at.substr(0, 10)], units, first, final, retests);
    hours[at.substr(0, 13)] += units;
    if (!o.shiftStarts.empty()) {
      const int minute = LocalMinute(at);
      size_t s = o.shiftStarts.size() - 1;  // before the first start: the last shift
      for (size_t i = 0; i < o.shiftStarts.size(); ++i)
        if (o.shiftStarts[i] <= minute) s = i;
      const int end = o.shiftStarts[(s + 1) % o.shiftStarts.size()];
      Add(shift[HourMinute(o.shiftStarts[s]) + "–" + HourMinute(end)], units, first, final,
          retests);
    }
  }
  d.byStation = Rows(station);
  d.byOperator = Rows(op);
  d.byShift = Rows(shift);
  d.byDay = Rows(day);
  for (const auto& [hour, units] : hours)
    if (units > d.busiestHourUnits) d.busiestHourUnits = units, d.busiestHour = hour;
  if (!hours.empty()) d.unitsPerHour = double(d.all.units) / double(hours.size());
  if (!o.shiftStarts.empty()) {
    std::string list;
    for (int m : o.shiftStarts) list += (list.empty() ? "" : ", ") + HourMinute(m);
    d.shiftNote = "shifts begin at " + list + " local time (" + ZoneNote() + ")";
  }
  return true;
}

bool LoadTestTimes(Connection& db, const std::vector<SqlValue>& where, LineData& d,
                   std::string& error) {
  std::vector<SqlRow> rows;
  if (!Query(db, sql::kTestTimes, where, rows, error)) return false;
  std::map<std::string, std::map<double, long>> byStation;
  std::map<double, long> all;
  for (const SqlRow& r : rows) {
    const double tenths = AsDouble(r[1]);
    const long n = long(AsInt(r[2]));
    byStation[AsText(r[0])][tenths] += n;
    all[tenths] += n;
  }
  auto add = [&](const std::string& name, const std::map<double, long>& h) {
    long total = 0;
    for (const auto& [t, n] : h) total += n;
    if (total > 0)
      d.testTimes.push_back(
          {name, total, FromHistogram(h, total, 0.5), FromHistogram(h, total, 0.95)});
  };
  add("", all);
  for (const auto& [station, h] : byStation) add(station, h);
  return true;
}

bool LoadCapability(Connection& db, const std::vector<SqlValue>& where, LineData& d,
                    std::string& error) {
  std::vector<SqlRow> rows;
  if (!Query(db, sql::kCapabilitySums, where, rows, error)) return false;
  struct Sum {
    long n = 0;
    double total = 0, squares = 0;
    std::optional<double> low, high;
  };
  std::map<std::tuple<std::string, std::string, std::string>, Sum> sums;
  for (const SqlRow& r : rows) {  // oldest day first: the newest limits win
    Sum& s = sums[{AsText(r[0]), AsText(r[1]), AsText(r[2])}];
    s.n += long(AsInt(r[4]));
    s.total += AsDouble(r[5]);
    s.squares += AsDouble(r[6]);
    s.low = IsNull(r[7]) ? std::nullopt : std::optional<double>(AsDouble(r[7]));
    s.high = IsNull(r[8]) ? std::nullopt : std::optional<double>(AsDouble(r[8]));
  }
  for (const auto& [key, s] : sums) {
    const auto& [group, item, check] = key;
    d.capability.push_back({group, item, check,
                            analysis::CapabilityFromSums(s.n, s.total, s.squares, s.low, s.high),
                            s.low, s.high});
  }
  std::stable_sort(d.capability.begin(), d.capability.end(), [](const auto& a, const auto& b) {
    if (a.c.cpk.has_value() != b.c.cpk.has_value()) return a.c.cpk.has_value();
    return a.c.cpk && *a.c.cpk < *b.c.cpk;
  });
  return true;
}

// The charted runs of a kind: the reference (the learning set given, else the period's
// first) and the newest.
bool ChartRuns(Connection& db, std::vector<SqlValue> where, const std::string& kind,
               const LineOptions& o, std::vector<SqlRow>& runs, size_t& reference,
               std::string& error) {
  where.push_back(kind);
  if (!o.referenceRuns.empty()) {
    std::vector<SqlValue> ids{kind};
    ids.insert(ids.end(), o.referenceRuns.begin(), o.referenceRuns.end());
    if (!Query(db, sql::RunsOfUuids(o.referenceRuns.size()), ids, runs, error)) return false;
  }
  // A kind the learning set has no runs of (touch tests) keeps the period's first units.
  if (runs.size() < 2 && !Query(db, sql::RunsInOrder(false, o.referenceUnits), where, runs, error))
    return false;
  reference = runs.size();
  std::vector<SqlRow> newest;
  if (!Query(db, sql::RunsInOrder(true, o.chartUnits), where, newest, error)) return false;
  std::set<int64_t> have;
  for (const SqlRow& r : runs) have.insert(AsInt(r[0]));
  for (auto it = newest.rbegin(); it != newest.rend(); ++it)
    if (!have.count(AsInt((*it)[0]))) runs.push_back(*it);
  return true;
}

// The charted runs' values, a few runs per query: a server's planner that misjudges how
// many values a run has would read the whole table for a long list (5 s of a 6.7 s report
// over 100,000 runs on PostgreSQL), never for a short one.
bool ChartValues(Connection& db, const std::vector<int64_t>& ids, bool touch,
                 std::vector<SqlRow>& values, std::string& error) {
  constexpr size_t kRunsPerQuery = 32;
  values.clear();
  std::vector<SqlRow> some;
  for (size_t from = 0; from < ids.size(); from += kRunsPerQuery) {
    const size_t to = std::min(ids.size(), from + kRunsPerQuery);
    const std::vector<int64_t> part(ids.begin() + static_cast<std::ptrdiff_t>(from),
                                    ids.begin() + static_cast<std::ptrdiff_t>(to));
    if (!Query(db, sql::ChartValues(part, touch), {}, some, error)) return false;
    values.insert(values.end(), std::make_move_iterator(some.begin()),
                  std::make_move_iterator(some.end()));
  }
  return true;
}

bool LoadCharts(Connection& db, const std::vector<SqlValue>& where, const LineOptions& o,
                LineData& d, std::string& error) {
  std::vector<SqlRow> kinds;
  if (!Query(db, sql::kKinds, where, kinds, error)) return false;
  for (const SqlRow& k : kinds) {
    const std::string kind = AsText(k[0]);
    std::vector<SqlRow> runs, values;
    size_t reference = 0;
    if (!ChartRuns(db, where, kind, o, runs, reference, error)) return false;
    if (reference < 2 || runs.size() <= reference) continue;
    std::vector<int64_t> ids;
    std::map<int64_t, size_t> position;
    for (const SqlRow& r : runs) {
      position[AsInt(r[0])] = ids.size();
      ids.push_back(AsInt(r[0]));
    }
    if (!ChartValues(db, ids, kind == "touch", values, error)) return false;
    // Per series, the value of each charted run (NaN: none).
    std::map<std::tuple<std::string, std::string, std::string>, std::vector<double>> series;
    for (const SqlRow& v : values) {
      auto& s = series[{AsText(v[1]), AsText(v[2]), AsText(v[3])}];
      s.resize(runs.size(), std::nan(""));
      s[position[AsInt(v[0])]] = AsDouble(v[4]);
    }
    for (const auto& [key, x] : series) {
      LineData::Chart c;
      c.kind = kind;
      std::tie(c.group, c.item, c.check) = key;
      std::vector<double> ref, after;
      for (size_t i = 0; i < runs.size(); ++i) {
        if (std::isnan(x[i])) continue;
        const SqlRow& r = runs[i];
        c.points.push_back({AsText(r[2]), AsText(r[1]), AsText(r[3]), AsText(r[4]), x[i]});
        (i < reference ? ref : after).push_back(x[i]);
      }
      if (ref.size() < 2 || after.empty()) continue;
      c.referenceCount = ref.size();
      double sum = 0, sq = 0;
      for (double v : ref) sum += v;
      c.centre = sum / double(ref.size());
      for (double v : ref) sq += (v - c.centre) * (v - c.centre);
      // A reference that did not vary at all still gets a scale (no division by zero).
      c.sigma = std::max(std::sqrt(sq / double(ref.size() - 1)),
                         1e-6 * std::max(1.0, std::fabs(c.centre)));
      c.rules = analysis::WesternElectric(after, c.centre, c.sigma);
      c.cusum = analysis::TabularCusum(after, c.centre, c.sigma);
      for (auto& s : c.rules) s.index += c.referenceCount;
      for (auto& s : c.cusum.signals) s.index += c.referenceCount;
      const auto first = analysis::FirstSignal(c.rules, c.cusum.signals, c.points.size());
      if (first.index < c.points.size()) {
        c.alarm = int(d.alarms.size());
        d.alarms.push_back({int(d.charts.size()), first.index, first.rule, first.high});
      }
      d.charts.push_back(std::move(c));
    }
  }
  std::stable_sort(d.alarms.begin(), d.alarms.end(), [&](const auto& a, const auto& b) {
    return d.charts[size_t(a.chart)].points[a.point].time <
           d.charts[size_t(b.chart)].points[b.point].time;
  });
  for (size_t i = 0; i < d.alarms.size(); ++i) d.charts[size_t(d.alarms[i].chart)].alarm = int(i);
  return true;
}

bool LoadFailed(Connection& db, const std::vector<SqlValue>& where, const LineOptions& o,
                LineData& d, std::string& error) {
  std::vector<SqlRow> rows;
  if (!Query(db, sql::FailedValues(o.failedShown), where, rows, error)) return false;
  for (const SqlRow& r : rows) {
    LineData::Failed f;
    f.group = AsText(r[0]);
    f.item = AsText(r[1]);
    f.check = AsText(r[2]);
    f.value = IsNull(r[3]) ? AsText(r[4]) : Num(AsDouble(r[3]));
    const bool low = !IsNull(r[5]), high = !IsNull(r[6]);
    if (!AsText(r[7]).empty())
      f.limit = AsText(r[7]);
    else if (low && high)
      f.limit = Num(AsDouble(r[5])) + " .. " + Num(AsDouble(r[6]));
    else if (low)
      f.limit = ">= " + Num(AsDouble(r[5]));
    else if (high)
      f.limit = "<= " + Num(AsDouble(r[6]));
    f.serial = AsText(r[8]);
    f.uuid = AsText(r[9]);
    f.time = AsText(r[10]);
    f.station = AsText(r[11]);
    d.failed.push_back(std::move(f));
  }
  return true;
}

}  // namespace

bool ParseShifts(const std::string& text, std::vector<int>& minutes, std::string& why) {
  minutes.clear();
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, ',');) {
    int h = -1, m = -1;
    char end = 0;
    if (std::sscanf(part.c_str(), "%d:%d%c", &h, &m, &end) != 2 || h < 0 || h > 23 || m < 0 ||
        m > 59 || part.size() != 5) {
      why = "\"" + part + "\" is no time of day (HH:MM)";
      return false;
    }
    minutes.push_back(h * 60 + m);
  }
  std::sort(minutes.begin(), minutes.end());
  if (minutes.empty() || std::adjacent_find(minutes.begin(), minutes.end()) != minutes.end()) {
    why = "give each shift's start once, e.g. 06:00,14:00,22:00";
    return false;
  }
  return true;
}

std::string LineData::Chart::Name() const {
  return group + (item.empty() ? "" : " " + item) + " " + check;
}

std::string YieldText(long passed, long units) {
  if (units <= 0) return "-";
  return SvgChart::Number(100.0 * double(passed) / double(units), 1) + " %";
}

bool LoadLineData(Connection& db, const ReportFilter& filter, const LineOptions& o, LineData& out,
                  std::string& error) {
  out = LineData{};
  const std::vector<SqlValue> where = {filter.since, filter.station, filter.station};
  return LoadYield(db, where, o, out, error) && LoadTestTimes(db, where, out, error) &&
         LoadCapability(db, where, out, error) && LoadCharts(db, where, o, out, error) &&
         LoadFailed(db, where, o, out, error);
}

}  // namespace records
