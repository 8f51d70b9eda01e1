#include "records/RunFacts.h"

#include "records/LineSql.h"

namespace records {

bool AddRunFacts(Connection& db, const RunRecord& run, int64_t runId) {
  const bool decided = run.verdict == "pass" || run.verdict == "fail";
  const std::string unit = run.serial.empty() ? run.uuid : run.serial;
  if (!db.Exec(sql::kAddDailyRun,
               {run.startedUtc.substr(0, 10), run.station, run.kind, int64_t{decided ? 1 : 0},
                run.durationS, int64_t{run.serial.empty() ? 1 : 0}}) ||
      !db.Exec(sql::AddUnitStation(db.GetDialect()), {unit, run.station, run.startedUtc}))
    return false;
  if (!decided) return true;
  return db.Exec(sql::kAddUnitResult,
                 {unit, run.station, run.kind, runId, run.uuid, run.serial, run.operatorName,
                  run.startedUtc, run.verdict, run.durationS, run.startedUtc, run.uuid,
                  run.verdict});
}

}  // namespace records
