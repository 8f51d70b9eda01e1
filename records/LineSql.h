// The SQL of the line manager's figures: the schema's views (unit_attempts,
// unit_first_pass, check_capability) that the report and any SQL dashboard read alike,
// the daily sums capability is computed from, and the report's queries.
#pragma once

#include <string>
#include <vector>

#include "records/Connection.h"

namespace records::sql {

// Statements of the migration that adds the sums and the views (existing runs summed).
std::vector<std::string> LineMigration(Connection::Dialect d);

// Statements of the migration that keeps each unit's first and last test and its attempts
// per station and kind (unit_results; existing runs numbered), the views read from it.
std::vector<std::string> UnitMigration(Connection::Dialect d);
// A run that reached a verdict into its unit's row: unit, station, kind, run id, uuid,
// serial, operator, time, verdict, test time, then time, uuid and verdict again. Returns
// the row as SelectUnitResult gives it.
extern const char* const kAddUnitResult;
// The same parameters: the unit's row made with no attempt yet where there is none, so
// that SelectUnitResult can lock it.
extern const char* const kLockUnitResult;
// A unit's row (unit, station, kind), locked for the transaction: attempts, first test's
// time, operator and verdict, the final verdict.
std::string SelectUnitResult(Connection::Dialect d);
// Added to the units of an hour: hour, station, operator, kind, units, first passed,
// final passed, retests (each may be negative).
extern const char* const kAddUnitHour;
// A run into its day's counts: day, station, kind, 1 for a verdict (else 0), test time
// in seconds, 1 without a serial (else 0).
extern const char* const kAddDailyRun;
// A run's unit seen at a station: unit, station, time.
std::string AddUnitStation(Connection::Dialect d);

// Statements of the migration that keeps failed values apart with their run's unit,
// station and time (failed_values; the runs kept before copied once).
std::vector<std::string> FailedMigration(Connection::Dialect d);
// A stored run's failed values into failed_values; `?` the run's id.
extern const char* const kAddFailedValues;

// Daily sums per check and item: `rows` rows of kCapabilityColumns parameters.
std::string AddCapabilitySums(int rows);
extern const int kCapabilityColumns;

// `?` 1: first day ("" for all), 2 and 3: station ("" for all, twice).
// Units first tested in the period by station, operator, kind and time (the first
// `prefix` characters of the UTC time: 13 an hour, kept as runs are stored; 16 a minute).
std::string UnitsByTime(int prefix);
// Test times of the runs, tenths of a second, by station.
extern const char* const kTestTimes;
// Daily sums per check and item, oldest day first.
extern const char* const kCapabilitySums;
// The first (or the newest) `limit` runs of a kind in the period (id, uuid, serial,
// station, time); `?` 4: the kind.
std::string RunsInOrder(bool newest, int limit);
// Runs of a kind (`?` 1) among a list of run ids (`?` 2..count + 1), oldest first; the
// same columns as RunsInOrder.
std::string RunsOfUuids(size_t count);
extern const char* const kKinds;
// Per run of a list: each electrode's mean of a self test, each figure of a touch test
// (averaged over its strokes). The list of ids is put in the statement.
std::string ChartValues(const std::vector<int64_t>& runIds, bool touch);
// The newest failed values of each item (at most perItem) with their unit and run.
std::string FailedValues(int perItem);

}  // namespace records::sql

namespace records::sql {
// Golden panels among the kept runs: each unit's newest passing self test at a station
// from a day on (`?` station, first day), and a unit's newest self test (`?` serial).
extern const char* const kPassedRunsOfStation;
extern const char* const kNewestTestOfSerial;
}  // namespace records::sql
