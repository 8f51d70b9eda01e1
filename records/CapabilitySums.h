// A run's values added to the daily sums capability is computed from (each check and item
// with limits: count, sum, sum of squares, the newest limits).
#pragma once

#include "records/Connection.h"
#include "records/RunRecord.h"

namespace records {

// Inside the caller's transaction. False with the connection's error.
bool AddCapabilitySums(Connection& db, const RunRecord& run);

}  // namespace records
