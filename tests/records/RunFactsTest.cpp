// The facts the report reads instead of every run (each unit's first and last test, units
// by the hour of it, the day's counts and test times, the stations a unit was seen at,
// failed values with their run), on
// SQLite and on a PostgreSQL server of the test's own: the same as computed here from the
// runs, whatever order the runs were stored in, and the same after an upgrade of a
// database that had only the runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "common/PgCluster.h"
#include "control/TempDir.h"
#include "records/LineData.h"
#include "records/PgConnection.h"
#include "records/RecordsTestData.h"
#include "records/ReportData.h"
#include "records/ResultsStore.h"

using records::AsDouble;
using records::AsInt;
using records::AsText;
using records::RunRecord;

namespace {

enum class Store { kSqlite, kPostgres };

// A unit's tests at a station, as the views must give them.
struct Unit {
  std::vector<const RunRecord*> tests;  // oldest first
};
using Key = std::tuple<std::string, std::string, std::string>;  // unit, station, kind

std::string UnitOf(const RunRecord& r) { return r.serial.empty() ? r.uuid : r.serial; }

class RunFacts : public ::testing::TestWithParam<Store> {
 protected:
  static void SetUpTestSuite() { pg_ = new PgCluster; }
  static void TearDownTestSuite() {
    delete pg_;
    pg_ = nullptr;
  }

  void SetUp() override {
    if (GetParam() == Store::kPostgres) {
      if (!pg_->Available()) GTEST_SKIP() << "no PostgreSQL server programs";
      static bool started = false;
      if (!started) {
        ASSERT_TRUE(started = pg_->Start()) << "see " << pg_->Log();
      }
      // A database of this test's own.
      static int made = 0;
      const std::string name = "facts" + std::to_string(++made);
      std::string e;
      auto db = records::PgConnection::Open(pg_->Url(), 10, e);
      ASSERT_TRUE(db) << e;
      ASSERT_TRUE(db->Exec("CREATE DATABASE " + name)) << db->Error();
      std::string url = pg_->Url();
      url.replace(url.find("/postgres?"), 10, "/" + name + "?");
      ASSERT_TRUE(records::ResultsUrl::Parse(url, url_, e)) << e;
    } else {
      url_.path = dir_.Path() + "/results.db";
    }
    Open();
  }
  void Open() {
    std::string error;
    store_ = records::ResultsStore::Open(url_, error);
    ASSERT_TRUE(store_) << error;
  }

  // Units tested again and again at two stations, in two kinds, runs without a serial,
  // runs that could not finish; stored in a shuffled order (a late sync stores a first
  // test after its retests), times in the same second told apart by the run's uuid.
  void StoreRuns() {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pct(0, 99);
    for (int i = 0; i < 60; ++i) {
      char when[40];
      std::snprintf(when, sizeof when, "2026-12-%02dT%02d:%02d:00.000Z", 1 + i / 20, 6 + i % 12,
                    i % 3 == 0 ? 0 : i % 60);
      const std::string serial = i % 10 == 9 ? "" : "SN" + std::to_string(i % 13);
      RunRecord r = MadeUpRun(serial, i % 4 ? "ST1" : "ST2", when, pct(rng) < 30 ? 5 : -1);
      if (i % 7 == 0) r.kind = "touch";
      if (i % 11 == 0) r.verdict = "error";
      r.operatorName = "op" + std::to_string(i % 3);
      r.durationS = 1 + (i % 9) * 0.35;
      runs_.push_back(r);
    }
    // Two tests of a unit in the same second: the uuid tells which was first.
    for (const char* verdict : {"fail", "pass"}) {
      runs_.push_back(MadeUpRun("SN77", "ST1", "2026-12-02T09:00:00.000Z"));
      runs_.back().verdict = verdict;
    }
    std::vector<RunRecord> order = runs_;
    std::shuffle(order.begin(), order.end(), rng);
    for (const RunRecord& r : order)
      ASSERT_EQ(store_->Save(r), records::ResultsStore::Saved::kStored) << store_->Error();
  }

  std::map<Key, Unit> Units() const {
    std::map<Key, Unit> units;
    for (const RunRecord& r : runs_)
      if (r.verdict == "pass" || r.verdict == "fail")
        units[{UnitOf(r), r.station, r.kind}].tests.push_back(&r);
    for (auto& [key, u] : units)
      std::sort(u.tests.begin(), u.tests.end(), [](const RunRecord* a, const RunRecord* b) {
        return std::tie(a->startedUtc, a->uuid) < std::tie(b->startedUtc, b->uuid);
      });
    return units;
  }

  std::vector<records::SqlRow> Rows(const std::string& sql) {
    std::vector<records::SqlRow> rows;
    EXPECT_TRUE(store_->Db().Exec(sql, {}, &rows)) << store_->Db().Error();
    return rows;
  }

  // The views against the units computed here.
  void ExpectViewsMatchTheRuns() {
    const auto units = Units();
    const auto first = Rows(
        "SELECT uuid, first_verdict, final_verdict, retests, operator, started_utc, duration_s"
        " FROM unit_first_pass");
    ASSERT_EQ(first.size(), units.size());
    std::map<std::string, const Unit*> byFirst;
    for (const auto& [key, u] : units) byFirst[u.tests.front()->uuid] = &u;
    for (const auto& row : first) {
      ASSERT_TRUE(byFirst.count(AsText(row[0]))) << AsText(row[0]) << " is no unit's first test";
      const Unit& u = *byFirst[AsText(row[0])];
      EXPECT_EQ(AsText(row[1]), u.tests.front()->verdict);
      EXPECT_EQ(AsText(row[2]), u.tests.back()->verdict);
      EXPECT_EQ(AsInt(row[3]), long(u.tests.size()) - 1);
      EXPECT_EQ(AsText(row[4]), u.tests.front()->operatorName);
      EXPECT_EQ(AsText(row[5]), u.tests.front()->startedUtc);
      EXPECT_DOUBLE_EQ(AsDouble(row[6]), u.tests.front()->durationS);
    }
    std::map<std::string, std::tuple<long, long, std::string>> attempt;  // uuid ->
    for (const auto& [key, u] : units)
      for (size_t i = 0; i < u.tests.size(); ++i)
        attempt[u.tests[i]->uuid] = {long(i) + 1, long(u.tests.size()), u.tests.back()->verdict};
    const auto all = Rows("SELECT uuid, attempt, attempts, final_verdict FROM unit_attempts");
    ASSERT_EQ(all.size(), attempt.size());
    for (const auto& row : all) {
      ASSERT_TRUE(attempt.count(AsText(row[0])));
      EXPECT_EQ(std::make_tuple(long(AsInt(row[1])), long(AsInt(row[2])), AsText(row[3])),
                attempt[AsText(row[0])])
          << AsText(row[0]);
    }
  }

  // The report's counts with and without a period and a station.
  void ExpectCountsMatchTheRuns() {
    for (const auto& [since, station] : std::vector<std::pair<std::string, std::string>>{
             {"", ""}, {"2026-12-02", ""}, {"", "ST2"}, {"2026-12-03", "ST1"}}) {
      long runs = 0, withoutSerial = 0, decided = 0;
      std::set<std::string> seen, kinds;
      for (const RunRecord& r : runs_) {
        if (r.startedUtc < since || (!station.empty() && r.station != station)) continue;
        ++runs;
        withoutSerial += r.serial.empty();
        decided += r.verdict != "error";
        seen.insert(UnitOf(r));
        kinds.insert(r.kind);
      }
      records::ReportData d;
      records::LineData line;
      std::string error;
      ASSERT_TRUE(records::LoadReportData(store_->Db(), {since, station}, d, error)) << error;
      ASSERT_TRUE(records::LoadLineData(store_->Db(), {since, station}, {}, line, error)) << error;
      const std::string at = "since '" + since + "' at '" + station + "'";
      EXPECT_EQ(d.runs, runs) << at;
      EXPECT_EQ(d.runsWithoutSerial, withoutSerial) << at;
      EXPECT_EQ(d.units, long(seen.size())) << at;
      ASSERT_FALSE(line.testTimes.empty()) << at;
      EXPECT_EQ(line.testTimes[0].runs, decided) << at;
      long firstTests = 0, finalPassed = 0, retests = 0;
      std::map<std::string, long> byOperator;  // of the first test
      for (const auto& [key, u] : Units()) {
        if (u.tests.front()->startedUtc < since || (!station.empty() && std::get<1>(key) != station))
          continue;
        ++firstTests;
        finalPassed += u.tests.back()->verdict == "pass";
        retests += long(u.tests.size()) - 1;
        ++byOperator[u.tests.front()->operatorName];
      }
      EXPECT_EQ(d.FirstPassUnits(), firstTests) << at;
      EXPECT_EQ(line.all.units, firstTests) << at;
      EXPECT_EQ(line.all.finalPassed, finalPassed) << at;
      EXPECT_EQ(line.all.retests, retests) << at;
      std::map<std::string, long> shown;
      for (const auto& y : line.byOperator) shown[y.key] = y.units;
      EXPECT_EQ(shown, byOperator) << at;
      // Failed values per electrode: how many, on how many units, the newest listed.
      std::map<std::string, std::pair<long, std::set<std::string>>> failed;
      for (const RunRecord& r : runs_) {
        if (r.startedUtc < since || (!station.empty() && r.station != station)) continue;
        for (const auto& m : r.checks)
          if (!m.pass && !m.item.empty()) {
            ++failed[m.group + " " + m.item].first;
            failed[m.group + " " + m.item].second.insert(UnitOf(r));
          }
      }
      ASSERT_EQ(d.byItem.size(), failed.size()) << at;
      for (const auto& f : d.byItem) {
        EXPECT_EQ(f.failures, failed[f.group + " " + f.name].first) << at;
        EXPECT_EQ(f.units, long(failed[f.group + " " + f.name].second.size())) << at;
      }
      long listed = 0;
      for (const auto& [item, f] : failed) listed += std::min(f.first, 20L);
      EXPECT_EQ(long(line.failed.size()), listed) << at;
    }
  }

  static PgCluster* pg_;
  TempDir dir_;
  records::ResultsUrl url_;
  std::unique_ptr<records::ResultsStore> store_;
  std::vector<RunRecord> runs_;
};

PgCluster* RunFacts::pg_ = nullptr;

}  // namespace

TEST_P(RunFacts, KeptAsRunsComeInAnyOrder) {
  StoreRuns();
  ExpectViewsMatchTheRuns();
  ExpectCountsMatchTheRuns();
  // A run already there (sent twice) counts once.
  EXPECT_EQ(store_->Save(runs_[3]), records::ResultsStore::Saved::kAlreadyThere);
  ExpectViewsMatchTheRuns();
  ExpectCountsMatchTheRuns();
}

TEST_P(RunFacts, AnUpgradedDatabaseKeepsItsRunsAndGetsItsFacts) {
  StoreRuns();
  ASSERT_TRUE(BackToVersion4(store_->Db())) << store_->Db().Error();
  store_.reset();
  Open();
  EXPECT_EQ(AsInt(Rows("SELECT max(version) FROM schema_version")[0][0]),
            records::ResultsStore::SchemaVersion());
  EXPECT_EQ(AsInt(Rows("SELECT count(*) FROM runs")[0][0]), long(runs_.size()));
  ExpectViewsMatchTheRuns();
  ExpectCountsMatchTheRuns();
  // And kept from there on.
  runs_.push_back(MadeUpRun("SN1", "ST1", "2026-11-30T08:00:00.000Z", 5));
  ASSERT_EQ(store_->Save(runs_.back()), records::ResultsStore::Saved::kStored);
  ExpectViewsMatchTheRuns();
  ExpectCountsMatchTheRuns();
}

INSTANTIATE_TEST_SUITE_P(Stores, RunFacts, ::testing::Values(Store::kSqlite, Store::kPostgres),
                         [](const auto& info) {
                           return info.param == Store::kSqlite ? "Sqlite" : "Postgres";
                         });
