// What the report reads instead of every run, kept as each run is stored: the day's run
// counts and test times (daily_runs), the stations each unit was seen at (unit_stations),
// each unit's first and last test and its attempts at a station (unit_results), the
// units by the hour of their first test (unit_hours), and the failed values with their
// run's unit, station and time (failed_values).
#pragma once

#include "records/Connection.h"
#include "records/RunRecord.h"

namespace records {

// Inside the caller's transaction. False with the connection's error.
bool AddRunFacts(Connection& db, const RunRecord& run, int64_t runId);

}  // namespace records
