// `vantrel test --spc`: after a pass, a note when the station has open drift alarms in the
// kept runs (the report's control charts). Never changes the verdict.
#pragma once

#include <iosfwd>
#include <string>

#include "records/RunRecord.h"

// Writes the note (nothing when there is no alarm) to out; a database that cannot be read
// is said on standard error.
void SpcNote(const std::string& resultsUrl, const records::RunRecord& run, std::ostream& out);
