#include "records/RunFacts.h"

#include <algorithm>
#include <array>
#include <map>
#include <tuple>

#include "records/LineSql.h"

namespace records {

namespace {

// What a unit's row adds to the units of the hour of its first test.
struct HourShare {
  std::string hour, operatorName;
  std::array<int64_t, 4> counts{};  // units, first passed, final passed, retests
};

// From a row as SelectUnitResult gives it; nothing for a row with no attempt yet.
bool ShareOf(const SqlRow& row, HourShare& out) {
  const int64_t attempts = AsInt(row[0]);
  if (attempts <= 0) return false;
  out.hour = AsText(row[1]).substr(0, 13);
  out.operatorName = AsText(row[2]);
  out.counts = {1, AsText(row[3]) == "pass" ? 1 : 0, AsText(row[4]) == "pass" ? 1 : 0,
                attempts - 1};
  return true;
}

// The unit's row with the run in it, and its hour's units moved along (the old share out,
// the new one in, in key order so that concurrent writers lock rows alike).
bool AddUnitResult(Connection& db, const RunRecord& run, const std::string& unit,
                   int64_t runId) {
  const std::vector<SqlValue> row = {unit, run.station, run.kind, runId, run.uuid,
                                     run.serial, run.operatorName, run.startedUtc,
                                     run.verdict, run.durationS, run.startedUtc, run.uuid,
                                     run.verdict};
  std::vector<SqlRow> before, after;
  if (!db.Exec(sql::kLockUnitResult, row) ||
      !db.Exec(sql::SelectUnitResult(db.GetDialect()), {unit, run.station, run.kind}, &before) ||
      !db.Exec(sql::kAddUnitResult, row, &after) || before.empty() || after.empty())
    return false;
  std::map<std::pair<std::string, std::string>, std::array<int64_t, 4>> moved;
  HourShare share;
  if (ShareOf(before[0], share))
    for (size_t i = 0; i < 4; ++i) moved[{share.hour, share.operatorName}][i] -= share.counts[i];
  if (ShareOf(after[0], share))
    for (size_t i = 0; i < 4; ++i) moved[{share.hour, share.operatorName}][i] += share.counts[i];
  for (const auto& [key, c] : moved) {
    if (std::all_of(c.begin(), c.end(), [](int64_t n) { return n == 0; })) continue;
    if (!db.Exec(sql::kAddUnitHour,
                 {key.first, run.station, key.second, run.kind, c[0], c[1], c[2], c[3]}))
      return false;
  }
  return true;
}

}  // namespace

bool AddRunFacts(Connection& db, const RunRecord& run, int64_t runId) {
  const bool decided = run.verdict == "pass" || run.verdict == "fail";
  const std::string unit = run.serial.empty() ? run.uuid : run.serial;
  if (!db.Exec(sql::kAddFailedValues, {runId}) ||
      !db.Exec(sql::kAddDailyRun,
               {run.startedUtc.substr(0, 10), run.station, run.kind, int64_t{decided ? 1 : 0},
                run.durationS, int64_t{run.serial.empty() ? 1 : 0}}) ||
      !db.Exec(sql::AddUnitStation(db.GetDialect()), {unit, run.station, run.startedUtc}))
    return false;
  return !decided || AddUnitResult(db, run, unit, runId);
}

}  // namespace records
