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
    "SELECT station, round(duration_s * 10), count(*) FROM runs"
    " WHERE verdict IN ('pass', 'fail') AND started_utc >= ? AND (? = '' OR station = ?)"
    " GROUP BY station, round(duration_s * 10)";

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
    "SELECT DISTINCT kind FROM runs WHERE started_utc >= ? AND (? = '' OR station = ?)";

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
         " SELECT f.grp, f.item, f.check_name, f.value, f.value_text, f.low, f.high, f.limit_text,"
         "  r.serial, r.uuid, r.started_utc, r.station, ROW_NUMBER() OVER (PARTITION BY f.grp,"
         "  f.item ORDER BY r.started_utc DESC, r.uuid DESC, f.check_name) AS newest"
         " FROM (SELECT run_id, grp, item, check_name, value, value_text, low, high, limit_text"
         "  FROM run_values WHERE pass = 0 AND item <> '') AS f"
         " JOIN runs r ON r.id = f.run_id"
         " WHERE r.started_utc >= ? AND (? = '' OR r.station = ?)) AS failed"
         " WHERE newest <= " +
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
