// Runs made up for the records tests: a 38 x 22 self test's values, a verdict, a day.
#pragma once

#include <string>

#include "records/Connection.h"
#include "records/RunRecord.h"
#include "records/Sql.h"

inline records::RunRecord MadeUpRun(const std::string& serial, const std::string& station,
                                    const std::string& startedUtc, int failingElectrode = -1,
                                    double offset = 0) {
  records::RunRecord r;
  r.uuid = records::NewUuid();
  r.serial = serial;
  r.station = station;
  r.operatorName = "op";
  r.startedUtc = startedUtc;
  r.toolVersion = "vantrel test";
  r.firmwareVersion = "TPCSIM 1.0.0";
  r.xCount = 38;
  r.yCount = 22;
  r.limitsName = "limits.toml";
  r.limitsSha256 = std::string(64, 'a');
  r.checks.push_back({"panel", "", "x_count", 38, "", "", 38, 38, "", true});
  r.checks.push_back({"firmware", "", "version", std::nullopt, "\"TPCSIM 1.0.0\"", "",
                      std::nullopt, std::nullopt, "matches \"TPCSIM *\"", true});
  for (const char* stream : {"m0-raw", "m1x-raw"})
    for (int e = 0; e < 60; ++e) {
      const std::string name = e < 38 ? "X" + std::to_string(e) : "Y" + std::to_string(e - 38);
      const bool bad = e == failingElectrode && std::string(stream) == "m0-raw";
      r.checks.push_back({stream, name, "mean", (bad ? 700 : 1000 + e) + offset, "", "counts",
                          900, 1100, "", !bad});
      r.checks.push_back({stream, name, "p2p", bad ? 90.0 : 12.0, "", "counts", std::nullopt, 30,
                          "", !bad});
      r.checks.push_back({stream, name, "stddev", 2.5, "", "counts", std::nullopt, 8, "", true});
      r.checks.push_back({stream, name, "snr", 40, "", "", 10, std::nullopt, "", true});
    }
  bool pass = true;
  for (const auto& v : r.checks) pass = pass && v.pass;
  r.verdict = pass ? "pass" : "fail";
  r.durationS = 1.5;
  return r;
}

// A database of this version taken back to version 4, before the report's kept facts:
// their tables gone, the views of then. False with the connection's error.
inline bool BackToVersion4(records::Connection& db) {
  for (const char* drop : {"DROP TABLE failed_values", "DROP VIEW unit_first_pass",
                           "DROP VIEW unit_attempts",
                           "DROP TABLE unit_results", "DROP TABLE daily_runs",
                           "DROP TABLE unit_stations", "DROP TABLE unit_hours"})
    if (!db.Exec(drop)) return false;
  const auto migrations = records::sql::Migrations(db.GetDialect());
  for (const std::string& s : migrations[3])
    if (s.rfind("CREATE VIEW unit_", 0) == 0 && !db.Exec(s)) return false;
  return db.Exec("UPDATE schema_version SET version = 4");
}
