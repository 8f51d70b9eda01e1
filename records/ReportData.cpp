#include "records/ReportData.h"

#include <algorithm>
#include <cstdio>

#include "records/RunRecord.h"
#include "records/Sql.h"

namespace records {

long ReportData::FirstPassUnits() const {
  long n = 0;
  for (const auto& f : firstPass) n += f.units;
  return n;
}

long ReportData::FirstPassPassed() const {
  long n = 0;
  for (const auto& f : firstPass) n += f.passed;
  return n;
}

bool IsDate(const std::string& t) {
  int y = 0, m = 0, d = 0;
  char end = 0;
  if (t.size() != 10 || std::sscanf(t.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &end) != 3)
    return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return t[4] == '-' && t[7] == '-' && y >= 1970 && m >= 1 && m <= 12 && d >= 1 &&
         d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

bool LoadReportData(Connection& db, const ReportFilter& filter, ReportData& out,
                    std::string& error) {
  out = ReportData{};
  out.filter = filter;
  out.generatedUtc = UtcNow();
  const std::vector<SqlValue> where = {filter.since, filter.station, filter.station};
  std::vector<SqlRow> rows;
  auto run = [&](const char* sql, std::vector<SqlValue> params) {
    rows.clear();
    if (db.Exec(sql, params, &rows)) return true;
    error = db.Error();
    return false;
  };

  std::vector<SqlValue> thrice;
  for (int i = 0; i < 3; ++i) thrice.insert(thrice.end(), where.begin(), where.end());
  if (!run(sql::kCountRuns, thrice)) return false;
  if (!rows.empty()) {
    out.runs = static_cast<long>(AsInt(rows[0][0]));
    out.units = static_cast<long>(AsInt(rows[0][1]));
    out.runsWithoutSerial = static_cast<long>(AsInt(rows[0][2]));
  }
  if (!run(sql::kFirstPassByStationDay, where)) return false;
  for (const SqlRow& r : rows)
    out.firstPass.push_back({AsText(r[0]), AsText(r[1]), AsText(r[2]),
                             static_cast<long>(AsInt(r[3])), static_cast<long>(AsInt(r[4]))});

  auto failures = [&](const char* sql, std::vector<ReportData::Failures>& into) {
    if (!run(sql, where)) return false;
    for (const SqlRow& r : rows)
      into.push_back({AsText(r[0]), AsText(r[1]), static_cast<long>(AsInt(r[2])),
                      static_cast<long>(AsInt(r[3]))});
    std::stable_sort(into.begin(), into.end(), [](const auto& a, const auto& b) {
      return a.failures != b.failures ? a.failures > b.failures
                                      : std::tie(a.group, a.name) < std::tie(b.group, b.name);
    });
    return true;
  };
  if (!failures(sql::kFailuresByCheck, out.byCheck) ||
      !failures(sql::kFailuresByItem, out.byItem))
    return false;

  std::vector<SqlValue> means = where;
  means.insert(means.begin(), std::string(kDriftFigure));
  if (!run(sql::kDailyMeans, means)) return false;
  for (const SqlRow& r : rows)
    out.means.push_back({AsText(r[0]), AsText(r[1]), AsText(r[2]), AsDouble(r[3])});
  return true;
}

}  // namespace records
