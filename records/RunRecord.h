// One run of a production test as it is kept: the run's one record (analysis::TestRun),
// read and written whole by the store.
#pragma once

#include <string>

#include "analysis/TestRun.h"

namespace records {

using RunRecord = analysis::TestRun;

// "2026-12-08T13:21:49.123Z" of now.
std::string UtcNow();
// A random (version 4) UUID in its usual text form.
std::string NewUuid();

}  // namespace records
