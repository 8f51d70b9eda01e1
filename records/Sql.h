// Every SQL statement of the results database, for SQLite and PostgreSQL alike. `?` is
// a parameter. The schema is versioned: kMigrations[i] brings version i to i + 1.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "records/Connection.h"

namespace records::sql {

// The migrations for a dialect, each a list of statements.
std::vector<std::vector<std::string>> Migrations(Connection::Dialect d);

// Before reading the schema version: serialises programs that open a fresh database at
// once (empty for SQLite, whose write transaction does it).
std::string_view MigrationLock(Connection::Dialect d);
// Lifts the statement time-out for the migration's transaction: summing or numbering the
// runs kept before takes longer than a report may ("" where there is none).
std::string_view MigrationTimeout(Connection::Dialect d);
// One row, a count above 0 when the table is there.
std::string_view RunsTableExists(Connection::Dialect d);
std::string_view VersionTableExists(Connection::Dialect d);
extern const char* const kCreateVersionTable;
extern const char* const kSelectVersion;
extern const char* const kInsertVersion;
extern const char* const kUpdateVersion;

// A run: its row (returns the new id; no row when the uuid is stored already).
extern const char* const kInsertRun;
extern const int kRunColumns;
// Measured values: `rows` rows of kValueColumns parameters in one statement.
std::string InsertValues(int rows);
extern const int kValueColumns;
// Daily sums of a figure of each item (the drift of electrode means over time).
std::string AddDailyValues(int rows);
extern const int kDailyColumns;

extern const char* const kSelectPendingUuids;
extern const char* const kMarkSent;
// Runs a server refused for their content: pending = 2 and the reason in set_aside.
extern const char* const kMarkSetAside;
extern const char* const kInsertSetAside;
// uuid, kind, serial, started_utc, verdict, pending, reason of every run not on its server.
extern const char* const kSelectWaitingRuns;
extern const char* const kSelectRunByUuid;
extern const char* const kSelectValuesOfRun;
extern const char* const kSelectRunsOfSerial;

// The report; `?` 1: first day ("" for all), 2 and 3: station ("" for all, twice).
extern const char* const kFirstPassByStationDay;
extern const char* const kFailuresByCheck;
extern const char* const kFailuresByItem;
extern const char* const kDailyMeans;
// Runs, units (a run without serial is a unit of its own), runs without serial; the
// three parameters three times.
extern const char* const kCountRuns;

}  // namespace records::sql
