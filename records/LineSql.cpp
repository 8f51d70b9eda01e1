#include "records/LineSql.h"

namespace records::sql {

const int kCapabilityColumns = 10;

std::vector<std::string> LineMigration(Connection::Dialect d) {
  const bool lite = d == Connection::Dialect::kSqlite;
  const std::string options = lite ? " WITHOUT ROWID" : "";
  const std::string least = lite ? "min" : "LEAST", greatest = lite ? "max" : "GREATEST";
  return {
      "CREATE TABLE capability_sums ("
      " day TEXT NOT NULL,"
      " station TEXT NOT NULL,"
      " grp TEXT NOT NULL,"
      " item TEXT NOT NULL,"
      " check_name TEXT NOT NULL,"
      " n BIGINT NOT NULL,"
      " total DOUBLE PRECISION NOT NULL,"
      " total_sq DOUBLE PRECISION NOT NULL,"
      " low DOUBLE PRECISION,"
      " high DOUBLE PRECISION,"
      " PRIMARY KEY (check_name, grp, item, day, station))" +
          options,
      // The runs kept before: summed once.
      "INSERT INTO capability_sums (day, station, grp, item, check_name, n, total, total_sq,"
      " low, high)"
      " SELECT substr(r.started_utc, 1, 10), r.station, v.grp, v.item, v.check_name, count(*),"
      "  sum(v.value), sum(v.value * v.value), max(v.low), min(v.high)"
      " FROM run_values v JOIN runs r ON r.id = v.run_id"
      " WHERE v.value IS NOT NULL AND (v.low IS NOT NULL OR v.high IS NOT NULL)"
      " GROUP BY substr(r.started_utc, 1, 10), r.station, v.grp, v.item, v.check_name",
      // Every test of a unit at a station that reached a verdict, numbered.
      "CREATE VIEW unit_attempts AS"
      " SELECT id AS run_id, uuid, serial, station, kind, operator, started_utc, verdict,"
      "  duration_s,"
      "  ROW_NUMBER() OVER (PARTITION BY serial, station, kind ORDER BY started_utc, uuid)"
      "   AS attempt,"
      "  COUNT(*) OVER (PARTITION BY serial, station, kind) AS attempts,"
      "  LAST_VALUE(verdict) OVER (PARTITION BY serial, station, kind ORDER BY started_utc,"
      "   uuid ROWS BETWEEN UNBOUNDED PRECEDING AND UNBOUNDED FOLLOWING) AS final_verdict"
      " FROM runs WHERE verdict IN ('pass', 'fail')",
      // A unit's first test at a station: its verdict, the verdict of its last retest.
      "CREATE VIEW unit_first_pass AS"
      " SELECT run_id, uuid, serial, station, kind, operator, started_utc,"
      "  verdict AS first_verdict, final_verdict, attempts - 1 AS retests, duration_s"
      " FROM unit_attempts WHERE attempt = 1",
      // Capability of every check and item over all kept runs, against the newest limits.
      "CREATE VIEW check_capability AS"
      " SELECT grp, item, check_name, n, mean, sd,"
      "  CASE WHEN sd > 0 AND low IS NOT NULL AND high IS NOT NULL"
      "   THEN (high - low) / (6 * sd) END AS cp,"
      "  CASE WHEN sd > 0 AND low IS NOT NULL AND high IS NOT NULL"
      "   THEN " +
          least +
          "(high - mean, mean - low) / (3 * sd)"
          "   WHEN sd > 0 AND high IS NOT NULL THEN (high - mean) / (3 * sd)"
          "   WHEN sd > 0 AND low IS NOT NULL THEN (mean - low) / (3 * sd) END AS cpk,"
          "  low, high"
          " FROM (SELECT s.grp, s.item, s.check_name, sum(s.n) AS n, sum(s.total) / sum(s.n) AS "
          "mean,"
          "  CASE WHEN sum(s.n) > 1 THEN sqrt(" +
          greatest +
          "(0, (sum(s.total_sq) - sum(s.total) *"
          "   sum(s.total) / sum(s.n)) / (sum(s.n) - 1))) ELSE 0 END AS sd,"
          "  (SELECT l.low FROM capability_sums l WHERE l.grp = s.grp AND l.item = s.item AND"
          "   l.check_name = s.check_name ORDER BY l.day DESC LIMIT 1) AS low,"
          "  (SELECT l.high FROM capability_sums l WHERE l.grp = s.grp AND l.item = s.item AND"
          "   l.check_name = s.check_name ORDER BY l.day DESC LIMIT 1) AS high"
          "  FROM capability_sums s GROUP BY s.grp, s.item, s.check_name) AS sums",
  };
}

// The unit of a run: its serial, or the run itself when it has none.
#define VT_UNIT "CASE WHEN serial = '' THEN uuid ELSE serial END"
#define VT_DECIDED "CASE WHEN verdict IN ('pass', 'fail') THEN 1 ELSE 0 END"
#define VT_UNIT_OF_R "CASE WHEN r.serial = '' THEN r.uuid ELSE r.serial END"

namespace {

// Each unit's tests numbered once per station and kind, from the runs kept before.
std::vector<std::string> UnitResultsSql(const std::string& rowid) {
  return {
      "CREATE TABLE unit_results ("
      " unit TEXT NOT NULL,"
      " station TEXT NOT NULL,"
      " kind TEXT NOT NULL,"
      " attempts BIGINT NOT NULL,"
      " run_id BIGINT NOT NULL,"
      " uuid TEXT NOT NULL,"
      " serial TEXT NOT NULL,"
      " operator TEXT NOT NULL,"
      " started_utc TEXT NOT NULL,"
      " first_verdict TEXT NOT NULL,"
      " duration_s DOUBLE PRECISION NOT NULL,"
      " last_started_utc TEXT NOT NULL,"
      " last_uuid TEXT NOT NULL,"
      " final_verdict TEXT NOT NULL,"
      " PRIMARY KEY (unit, station, kind))" + rowid,
      // The runs kept before: each unit's tests numbered once.
      "INSERT INTO unit_results (unit, station, kind, attempts, run_id, uuid, serial, operator,"
      " started_utc, first_verdict, duration_s, last_started_utc, last_uuid, final_verdict)"
      " SELECT unit, station, kind, attempts, id, uuid, serial, operator, started_utc, verdict,"
      "  duration_s, last_started_utc, last_uuid, final_verdict FROM ("
      "  SELECT " VT_UNIT " AS unit, station, kind, id, uuid, serial, operator, started_utc,"
      "   verdict, duration_s, ROW_NUMBER() OVER w AS attempt, COUNT(*) OVER w AS attempts,"
      "   LAST_VALUE(started_utc) OVER w AS last_started_utc,"
      "   LAST_VALUE(uuid) OVER w AS last_uuid, LAST_VALUE(verdict) OVER w AS final_verdict"
      "  FROM runs WHERE verdict IN ('pass', 'fail')"
      "  WINDOW w AS (PARTITION BY " VT_UNIT ", station, kind ORDER BY started_utc, uuid"
      "   ROWS BETWEEN UNBOUNDED PRECEDING AND UNBOUNDED FOLLOWING)) AS numbered"
      " WHERE attempt = 1",
      "CREATE INDEX unit_results_by_time ON unit_results (started_utc)",
  };
}

// The sums the report reads: runs per day, units per station, units by the hour.
std::vector<std::string> UnitSumsSql(const std::string& rowid) {
  return {
      // Runs per day, station and kind, by test time: the report's counts and times.
      "CREATE TABLE daily_runs ("
      " day TEXT NOT NULL,"
      " station TEXT NOT NULL,"
      " kind TEXT NOT NULL,"
      " decided INTEGER NOT NULL,"  // 1: the run reached a verdict, pass or fail
      " tenths BIGINT NOT NULL,"    // test time, tenths of a second
      " runs BIGINT NOT NULL,"
      " without_serial BIGINT NOT NULL,"
      " PRIMARY KEY (day, station, kind, decided, tenths))" + rowid,
      "INSERT INTO daily_runs (day, station, kind, decided, tenths, runs, without_serial)"
      " SELECT substr(started_utc, 1, 10), station, kind, " VT_DECIDED ","
      "  round(duration_s * 10), count(*), sum(CASE WHEN serial = '' THEN 1 ELSE 0 END)"
      " FROM runs GROUP BY substr(started_utc, 1, 10), station, kind, " VT_DECIDED ","
      "  round(duration_s * 10)",
      // Each unit's newest run at each station, a verdict or not: units in a period.
      "CREATE TABLE unit_stations ("
      " unit TEXT NOT NULL,"
      " station TEXT NOT NULL,"
      " last_started_utc TEXT NOT NULL,"
      " PRIMARY KEY (unit, station))" + rowid,
      "INSERT INTO unit_stations (unit, station, last_started_utc)"
      " SELECT " VT_UNIT ", station, max(started_utc) FROM runs GROUP BY " VT_UNIT ", station",
      // Units by the hour of their first test at a station: the yield figures.
      "CREATE TABLE unit_hours ("
      " hour TEXT NOT NULL,"  // "2026-12-08T13"
      " station TEXT NOT NULL,"
      " operator TEXT NOT NULL,"
      " kind TEXT NOT NULL,"
      " units BIGINT NOT NULL,"
      " first_passed BIGINT NOT NULL,"
      " final_passed BIGINT NOT NULL,"
      " retests BIGINT NOT NULL,"
      " PRIMARY KEY (hour, station, operator, kind))" + rowid,
      "INSERT INTO unit_hours (hour, station, operator, kind, units, first_passed,"
      " final_passed, retests)"
      " SELECT substr(started_utc, 1, 13), station, operator, kind, count(*),"
      "  sum(CASE WHEN first_verdict = 'pass' THEN 1 ELSE 0 END),"
      "  sum(CASE WHEN final_verdict = 'pass' THEN 1 ELSE 0 END), sum(attempts - 1)"
      " FROM unit_results GROUP BY substr(started_utc, 1, 13), station, operator, kind",
  };
}

// The views of before over unit_results: the same columns as before; a run without a
// serial is a unit of its own.
std::vector<std::string> UnitViewsSql(const std::string& view) {
  return {view +
              "unit_attempts AS"
              " SELECT r.id AS run_id, r.uuid, r.serial, r.station, r.kind, r.operator,"
              "  r.started_utc, r.verdict, r.duration_s,"
              "  ROW_NUMBER() OVER (PARTITION BY u.unit, u.station, u.kind"
              "   ORDER BY r.started_utc, r.uuid) AS attempt,"
              "  u.attempts, u.final_verdict"
              " FROM runs r JOIN unit_results u ON u.unit = CASE WHEN r.serial = ''"
              "  THEN r.uuid ELSE r.serial END AND u.station = r.station AND u.kind = r.kind"
              " WHERE r.verdict IN ('pass', 'fail')",
          view +
              "unit_first_pass AS"
              " SELECT run_id, uuid, serial, station, kind, operator, started_utc,"
              "  first_verdict, final_verdict, attempts - 1 AS retests, duration_s"
              " FROM unit_results"};
}

}  // namespace

std::vector<std::string> UnitMigration(Connection::Dialect d) {
  const bool lite = d == Connection::Dialect::kSqlite;
  // PostgreSQL keeps the views in place (and dashboards' views built on them).
  const std::string view = lite ? "CREATE VIEW " : "CREATE OR REPLACE VIEW ";
  const std::string rowid = lite ? " WITHOUT ROWID" : "";
  std::vector<std::string> out = UnitResultsSql(rowid);
  const std::vector<std::string> sums = UnitSumsSql(rowid);
  out.insert(out.end(), sums.begin(), sums.end());
  if (lite) out.insert(out.end(), {"DROP VIEW unit_first_pass", "DROP VIEW unit_attempts"});
  const std::vector<std::string> views = UnitViewsSql(view);
  out.insert(out.end(), views.begin(), views.end());
  return out;
}

// Failed values copied with their run's unit, station and time.
#define VT_COPY_FAILED                                                                        \
  "INSERT INTO failed_values (run_id, seq, unit, serial, uuid, station, started_utc, grp,"    \
  " item, check_name, value, value_text, low, high, limit_text)"                              \
  " SELECT v.run_id, v.seq, " VT_UNIT_OF_R ", r.serial, r.uuid, r.station, r.started_utc,"    \
  "  v.grp, v.item, v.check_name, v.value, v.value_text, v.low, v.high, v.limit_text"         \
  " FROM run_values v JOIN runs r ON r.id = v.run_id"

std::vector<std::string> FailedMigration(Connection::Dialect d) {
  const std::string rowid = d == Connection::Dialect::kSqlite ? " WITHOUT ROWID" : "";
  return {
      // Failed values with their run's unit, station and time: the report's failures.
      "CREATE TABLE failed_values ("
      " run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
      " seq INTEGER NOT NULL,"
      " unit TEXT NOT NULL,"
      " serial TEXT NOT NULL,"
      " uuid TEXT NOT NULL,"
      " station TEXT NOT NULL,"
      " started_utc TEXT NOT NULL,"
      " grp TEXT NOT NULL,"
      " item TEXT NOT NULL,"
      " check_name TEXT NOT NULL,"
      " value DOUBLE PRECISION,"
      " value_text TEXT,"
      " low DOUBLE PRECISION,"
      " high DOUBLE PRECISION,"
      " limit_text TEXT,"
      " PRIMARY KEY (run_id, seq))" + rowid,
      VT_COPY_FAILED " WHERE v.pass = 0",
      "CREATE INDEX failed_values_by_time ON failed_values (started_utc)",
  };
}

const char* const kAddFailedValues = VT_COPY_FAILED " WHERE v.run_id = ? AND v.pass = 0";

// A run that reached a verdict: its unit's first test, attempts and last test at the
// station, the earlier (or later) of the stored and the new run winning.
#define VT_EARLIER                                                              \
  "(excluded.started_utc < unit_results.started_utc OR (excluded.started_utc =" \
  " unit_results.started_utc AND excluded.uuid < unit_results.uuid))"
#define VT_LATER                                                                \
  "(excluded.last_started_utc > unit_results.last_started_utc OR"               \
  " (excluded.last_started_utc = unit_results.last_started_utc AND"             \
  " excluded.last_uuid > unit_results.last_uuid))"
#define VT_UNIT_HOUR_COLUMNS "attempts, started_utc, operator, first_verdict, final_verdict"
#define VT_FIRST(c) \
  " " c " = CASE WHEN " VT_EARLIER " THEN excluded." c " ELSE unit_results." c " END,"
#define VT_LAST(c) " " c " = CASE WHEN " VT_LATER " THEN excluded." c " ELSE unit_results." c " END"
const char* const kAddUnitResult =
    "INSERT INTO unit_results (unit, station, kind, attempts, run_id, uuid, serial, operator,"
    " started_utc, first_verdict, duration_s, last_started_utc, last_uuid, final_verdict)"
    " VALUES (?,?,?,1,?,?,?,?,?,?,?,?,?,?)"
    " ON CONFLICT (unit, station, kind) DO UPDATE SET attempts = unit_results.attempts + 1,"
    VT_FIRST("run_id") VT_FIRST("uuid") VT_FIRST("serial") VT_FIRST("operator")
    VT_FIRST("first_verdict") VT_FIRST("duration_s") VT_FIRST("started_utc")
    VT_LAST("last_uuid") "," VT_LAST("final_verdict") "," VT_LAST("last_started_utc")
    " RETURNING " VT_UNIT_HOUR_COLUMNS;
const char* const kLockUnitResult =
    "INSERT INTO unit_results (unit, station, kind, attempts, run_id, uuid, serial, operator,"
    " started_utc, first_verdict, duration_s, last_started_utc, last_uuid, final_verdict)"
    " VALUES (?,?,?,0,?,?,?,?,?,?,?,?,?,?) ON CONFLICT (unit, station, kind) DO NOTHING";
std::string SelectUnitResult(Connection::Dialect d) {
  return std::string("SELECT " VT_UNIT_HOUR_COLUMNS " FROM unit_results WHERE unit = ? AND"
                     " station = ? AND kind = ?") +
         (d == Connection::Dialect::kPostgres ? " FOR UPDATE" : "");
}
const char* const kAddUnitHour =
    "INSERT INTO unit_hours (hour, station, operator, kind, units, first_passed, final_passed,"
    " retests) VALUES (?,?,?,?,?,?,?,?)"
    " ON CONFLICT (hour, station, operator, kind) DO UPDATE SET"
    " units = unit_hours.units + excluded.units,"
    " first_passed = unit_hours.first_passed + excluded.first_passed,"
    " final_passed = unit_hours.final_passed + excluded.final_passed,"
    " retests = unit_hours.retests + excluded.retests";
#undef VT_UNIT_HOUR_COLUMNS
#undef VT_FIRST
#undef VT_LAST
#undef VT_EARLIER
#undef VT_LATER
#undef VT_UNIT
#undef VT_DECIDED
#undef VT_UNIT_OF_R
#undef VT_COPY_FAILED

const char* const kAddDailyRun =
    "INSERT INTO daily_runs (day, station, kind, decided, tenths, runs, without_serial)"
    " VALUES (?, ?, ?, ?, round(CAST(? AS DOUBLE PRECISION) * 10), 1, ?)"
    " ON CONFLICT (day, station, kind, decided, tenths) DO UPDATE SET"
    " runs = daily_runs.runs + 1, without_serial = daily_runs.without_serial +"
    " excluded.without_serial";

std::string AddUnitStation(Connection::Dialect d) {
  const char* greatest = d == Connection::Dialect::kSqlite ? "max" : "GREATEST";
  return std::string(
             "INSERT INTO unit_stations (unit, station, last_started_utc) VALUES (?, ?, ?)"
             " ON CONFLICT (unit, station) DO UPDATE SET last_started_utc = ") +
         greatest + "(unit_stations.last_started_utc, excluded.last_started_utc)";
}

std::string AddCapabilitySums(int rows) {
  std::string one = "(?,?,?,?,?,?,?,?,?,?)", all;
  for (int r = 0; r < rows; ++r) all += (r ? "," : "") + one;
  return "INSERT INTO capability_sums (day, station, grp, item, check_name, n, total, total_sq,"
         " low, high) VALUES " +
         all +
         " ON CONFLICT (check_name, grp, item, day, station) DO UPDATE SET"
         " n = capability_sums.n + excluded.n, total = capability_sums.total + excluded.total,"
         " total_sq = capability_sums.total_sq + excluded.total_sq, low = excluded.low,"
         " high = excluded.high";
}

std::string UnitsByTime(int prefix) {
  if (prefix == 13)
    return "SELECT station, operator, kind, hour, sum(units), sum(first_passed),"
           " sum(final_passed), sum(retests)"
           " FROM unit_hours WHERE hour >= ? AND (? = '' OR station = ?) AND units > 0"
           " GROUP BY station, operator, kind, hour ORDER BY hour";
  const std::string t = "substr(started_utc, 1, " + std::to_string(prefix) + ")";
  return "SELECT station, operator, kind, " + t +
         " AS at, count(*),"
         " sum(CASE WHEN first_verdict = 'pass' THEN 1 ELSE 0 END),"
         " sum(CASE WHEN final_verdict = 'pass' THEN 1 ELSE 0 END), sum(retests)"
         " FROM unit_first_pass WHERE started_utc >= ? AND (? = '' OR station = ?)"
         " GROUP BY station, operator, kind, " +
         t + " ORDER BY at";
}

const char* const kTestTimes =
    "SELECT station, tenths, sum(runs) FROM daily_runs"
    " WHERE decided = 1 AND day >= ? AND (? = '' OR station = ?)"
    " GROUP BY station, tenths";

const char* const kCapabilitySums =
    "SELECT grp, item, check_name, day, sum(n), sum(total), sum(total_sq), min(low), max(high)"
    " FROM capability_sums WHERE day >= ? AND (? = '' OR station = ?)"
    " GROUP BY check_name, grp, item, day ORDER BY check_name, grp, item, day";

std::string RunsInOrder(bool newest, int limit) {
  const char* order =
      newest ? " ORDER BY started_utc DESC, uuid DESC" : " ORDER BY started_utc, uuid";
  return std::string(
             "SELECT id, uuid, serial, station, started_utc FROM runs"
             " WHERE verdict IN ('pass', 'fail') AND started_utc >= ?"
             " AND (? = '' OR station = ?) AND kind = ?") +
         order + " LIMIT " + std::to_string(limit);
}

std::string RunsOfUuids(size_t count) {
  std::string marks;
  for (size_t i = 0; i < count; ++i) marks += i ? ", ?" : "?";
  return "SELECT id, uuid, serial, station, started_utc FROM runs WHERE kind = ? AND uuid IN (" +
         (marks.empty() ? std::string("NULL") : marks) + ") ORDER BY started_utc, uuid";
}

const char* const kKinds =
    "SELECT DISTINCT kind FROM daily_runs WHERE day >= ? AND (? = '' OR station = ?)";

std::string ChartValues(const std::vector<int64_t>& ids, bool touch) {
  std::string list;
  for (int64_t id : ids) list += (list.empty() ? "" : ",") + std::to_string(id);
  if (list.empty()) list = "NULL";
  if (!touch)  // one value per run, electrode and figure: nothing to group
    return "SELECT run_id, grp, item, check_name, value FROM run_values"
           " WHERE run_id IN (" + list + ") AND check_name = 'mean' AND item <> ''"
           " AND value IS NOT NULL";
  return "SELECT run_id, grp, '', check_name, avg(value) FROM run_values"
         " WHERE run_id IN (" + list + ") AND value IS NOT NULL"
         " GROUP BY run_id, grp, check_name";
}

std::string FailedValues(int perItem) {
  return "SELECT grp, item, check_name, value, value_text, low, high, limit_text, serial, uuid,"
         " started_utc, station FROM ("
         " SELECT grp, item, check_name, value, value_text, low, high, limit_text, serial, uuid,"
         "  started_utc, station, ROW_NUMBER() OVER (PARTITION BY grp, item ORDER BY"
         "  started_utc DESC, uuid DESC, check_name) AS newest"
         " FROM failed_values WHERE item <> '' AND started_utc >= ? AND (? = '' OR station = ?))"
         " AS failed WHERE newest <= " +
         std::to_string(perItem) + " ORDER BY grp, item, started_utc, uuid, check_name";
}

}  // namespace records::sql

namespace records::sql {
const char* const kPassedRunsOfStation =
    "SELECT uuid FROM (SELECT uuid, serial, ROW_NUMBER() OVER (PARTITION BY serial ORDER BY"
    " started_utc DESC, uuid DESC) AS newest FROM runs WHERE station = ? AND started_utc >= ?"
    " AND kind = 'test' AND verdict = 'pass') AS t WHERE newest = 1 ORDER BY serial";
const char* const kNewestTestOfSerial =
    "SELECT uuid FROM runs WHERE serial = ? AND kind = 'test' AND verdict IN ('pass', 'fail')"
    " ORDER BY started_utc DESC, uuid DESC LIMIT 1";
}  // namespace records::sql
