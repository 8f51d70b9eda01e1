// vantrel keeping its runs on a real PostgreSQL server started for the test: eight
// stations writing at once, each run there once with all its values; a server stopped
// mid-run, the run kept locally and sent once by sync (and by the next run).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <memory>
#include <set>

#include "common/PgCluster.h"
#include "common/SimProcess.h"
#include "records/LineData.h"
#include "records/PgConnection.h"
#include "records/RecordsTestData.h"
#include "records/ResultsStore.h"
#include "records/VantrelProcess.h"

namespace {

using records::AsInt;
using records::AsText;

// "PASS: 182 checks" -> 182
long Checks(const std::string& out) {
  const size_t at = out.find("PASS: ");
  return at == std::string::npos ? -1 : std::stol(out.substr(at + 6));
}

long long LocalCount(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  long long n = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
      n = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return n;
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pg.Available()) GTEST_SKIP() << "no PostgreSQL server programs";
    ASSERT_TRUE(pg.Start()) << "see " << pg.Log();
  }

  // Limits learnt from a simulator (every later run of it passes them).
  std::string Learn(const SimProcess& sim) {
    VantrelProcess learn(sim.Dir(), "learn");
    const std::string limits = sim.Dir() + "/limits.toml";
    auto r = learn({"--usb", "227D:0102", "learn", "m0-raw", "--scans", "20", "-o", limits},
                   {"HIDPIPE_SIM=" + sim.Socket()});
    EXPECT_EQ(r.code, 0) << r.err;
    return limits;
  }

  // Every run on the server: serial -> (values it says it has, values there).
  std::map<std::string, std::pair<long, long>> ServerRuns(long* rows = nullptr) {
    std::string error;
    auto db = records::PgConnection::Open(pg.Url(), 5, error);
    EXPECT_TRUE(db) << error;
    std::vector<records::SqlRow> out;
    std::map<std::string, std::pair<long, long>> runs;
    if (!db || !db->Exec("SELECT r.serial, r.value_count, (SELECT count(*) FROM run_values v "
                         "WHERE v.run_id = r.id) FROM runs r",
                         {}, &out))
      return runs;
    for (const auto& r : out) runs[AsText(r[0])] = {long(AsInt(r[1])), long(AsInt(r[2]))};
    if (rows) *rows = long(out.size());
    return runs;
  }

  PgCluster pg;
};

}  // namespace

TEST_F(ServerTest, EightStationsWriteOneServerAtOnce) {
  constexpr int kStations = 8;
  std::vector<std::unique_ptr<SimProcess>> sims;
  for (int i = 0; i < kStations; ++i) {
    sims.push_back(std::make_unique<SimProcess>());
    ASSERT_TRUE(sims.back()->Start({"--usb", "--rate", "2000"}));
  }
  const std::string limits = Learn(*sims[0]);
  std::vector<std::unique_ptr<VantrelProcess>> runs;
  for (int i = 0; i < kStations; ++i) {
    runs.push_back(std::make_unique<VantrelProcess>(sims[i]->Dir(), "test"));
    ASSERT_TRUE(runs.back()->Start(
        {"--usb", "227D:0102", "--timeout", "5", "test", "--limits", limits, "--scans", "20",
         "--results", pg.Url(), "--serial", "SN-" + std::to_string(i), "--station",
         "ST-" + std::to_string(i % 3)},
        {"HIDPIPE_SIM=" + sims[i]->Socket()}));
  }
  std::map<std::string, long> checks;
  for (int i = 0; i < kStations; ++i) {
    const auto r = runs[i]->Finish();
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.err.find("results"), std::string::npos) << r.err;
    checks["SN-" + std::to_string(i)] = Checks(r.out);
    EXPECT_EQ(LocalCount(runs[i]->LocalDb(), "SELECT count(*) FROM runs"), -1)
        << "nothing waits locally";
  }
  long rows = 0;
  const auto stored = ServerRuns(&rows);
  EXPECT_EQ(rows, kStations);
  ASSERT_EQ(stored.size(), size_t(kStations));
  for (const auto& [serial, counts] : stored) {
    EXPECT_GT(checks[serial], 60) << serial;
    EXPECT_EQ(counts.first, checks[serial]) << serial;
    EXPECT_EQ(counts.second, checks[serial]) << serial;
  }
}

TEST_F(ServerTest, RunOfAStoppedServerWaitsLocallyAndIsSentOnce) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb", "--rate", "2000"}));
  const std::string limits = Learn(sim);
  const std::vector<std::string> env{"HIDPIPE_SIM=" + sim.Socket()};
  auto test = [&](const std::string& serial, int scans) {
    return std::vector<std::string>{"--usb", "227D:0102", "--timeout", "5", "test", "--limits",
                                    limits, "--scans", std::to_string(scans), "--results",
                                    pg.Url(), "--serial", serial};
  };

  // The server goes away while the panel is measured.
  ASSERT_TRUE(sim.Ok("rate 100"));  // 25 scans a second: 50 scans take 2 s
  VantrelProcess first(sim.Dir(), "first");
  ASSERT_TRUE(first.Start(test("SN-A", 50), env));
  ASSERT_TRUE(WaitUntil([&] { return sim.Command("status").find("stream=none") == std::string::npos; }))
      << sim.Command("status");
  ASSERT_TRUE(pg.Stop());
  ASSERT_TRUE(first.Running()) << "the run ended before the server stopped";
  const auto r1 = first.Finish();
  EXPECT_EQ(r1.code, 0) << r1.out << r1.err;
  EXPECT_NE(r1.err.find("until `vantrel results sync` sends it"), std::string::npos) << r1.err;
  EXPECT_EQ(LocalCount(first.LocalDb(), "SELECT count(*) FROM runs WHERE pending = 1"), 1);
  EXPECT_EQ(LocalCount(first.LocalDb(), "SELECT count(*) FROM run_values"), Checks(r1.out));

  VantrelProcess sync(sim.Dir(), "sync");
  auto s0 = sync({"results", "sync", "--results", pg.Url()}, env);
  EXPECT_EQ(s0.code, 2) << "the server is still away: " << s0.out << s0.err;
  EXPECT_NE(s0.err.find("1 run(s) still wait"), std::string::npos) << s0.err;

  // Back again: sync sends it, a second sync has nothing to send.
  ASSERT_TRUE(pg.Start());
  auto s1 = sync({"results", "sync", "--results", pg.Url()}, env);
  EXPECT_EQ(s1.code, 0) << s1.err;
  EXPECT_NE(s1.out.find("1 run(s) sent"), std::string::npos) << s1.out;
  auto stored = ServerRuns();
  ASSERT_EQ(stored.count("SN-A"), 1u);
  EXPECT_EQ(stored["SN-A"], std::make_pair(Checks(r1.out), Checks(r1.out)));
  EXPECT_EQ(LocalCount(first.LocalDb(), "SELECT count(*) FROM runs WHERE pending = 1"), 0);
  auto s2 = sync({"results", "sync", "--results", pg.Url()}, env);
  EXPECT_NE(s2.out.find("0 run(s) sent"), std::string::npos) << s2.out;

  // A send whose answer was lost leaves the run marked unsent; sending it again stores
  // nothing twice.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(first.LocalDb().c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "UPDATE runs SET pending = 1", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  auto s3 = sync({"results", "sync", "--results", pg.Url()}, env);
  EXPECT_NE(s3.out.find("1 were there already"), std::string::npos) << s3.out;

  // A run kept locally is also sent by the next run that reaches the server.
  ASSERT_TRUE(sim.Ok("rate 2000"));
  ASSERT_TRUE(pg.Stop());
  VantrelProcess second(sim.Dir(), "second");
  const auto r2 = second(test("SN-B", 10), env);
  EXPECT_EQ(r2.code, 0) << r2.err;
  ASSERT_TRUE(pg.Start());
  VantrelProcess third(sim.Dir(), "third");
  const auto r3 = third(test("SN-C", 10), env);
  EXPECT_EQ(r3.code, 0) << r3.err;
  EXPECT_NE(r3.err.find("1 waiting run(s) sent"), std::string::npos) << r3.err;
  long rows = 0;
  stored = ServerRuns(&rows);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(stored["SN-B"].second, Checks(r2.out));
  EXPECT_EQ(stored["SN-C"].second, Checks(r3.out));

  // `results show` reads the server.
  VantrelProcess show(sim.Dir(), "show");
  const auto shown = show({"results", "show", "SN-A", "--results", pg.Url()}, env);
  EXPECT_EQ(shown.code, 0) << shown.err;
  EXPECT_NE(shown.out.find("unit SN-A: 1 run(s)"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("pass"), std::string::npos) << shown.out;
}

// The line manager's figures read from PostgreSQL as from SQLite: its views, the
// capability sums and every report query.
TEST_F(ServerTest, LineFiguresComeFromTheServersViews) {
  records::ResultsUrl u;
  std::string error;
  ASSERT_TRUE(records::ResultsUrl::Parse(pg.Url(), u, error)) << error;
  auto store = records::ResultsStore::Open(u, error);
  ASSERT_TRUE(store) << error;
  for (int i = 0; i < 25; ++i) {
    char when[40];
    std::snprintf(when, sizeof when, "2026-12-03T08:%02d:00.000Z", i);
    auto run = MadeUpRun("SN" + std::to_string(i), "ST1", when, i == 22 ? 5 : -1, i >= 21 ? 40 : 0);
    ASSERT_EQ(store->Save(run), records::ResultsStore::Saved::kStored) << store->Error();
  }
  ASSERT_EQ(store->Save(MadeUpRun("SN22", "ST1", "2026-12-03T09:00:00.000Z")),
            records::ResultsStore::Saved::kStored);
  records::LineData d;
  records::LineOptions o;
  o.shiftStarts = {360, 840, 1320};
  ASSERT_TRUE(records::LoadLineData(store->Db(), {"", ""}, o, d, error)) << error;
  EXPECT_EQ(d.all.units, 25);
  EXPECT_EQ(d.all.firstPassed, 24);
  EXPECT_EQ(d.all.finalPassed, 25);
  EXPECT_EQ(d.all.retests, 1);
  ASSERT_FALSE(d.capability.empty());
  EXPECT_EQ(d.capability.front().item, "X5");
  ASSERT_FALSE(d.alarms.empty()) << "the means 40 counts up from unit 22 on";
  EXPECT_FALSE(d.failed.empty());
  std::vector<records::SqlRow> view;
  ASSERT_TRUE(
      store->Db().Exec("SELECT n, cpk FROM check_capability WHERE grp = 'm0-raw' AND"
                       " item = 'X5' AND check_name = 'mean'",
                       {}, &view))
      << store->Db().Error();
  ASSERT_EQ(view.size(), 1u);
  EXPECT_EQ(AsInt(view[0][0]), 26);
}

namespace {

constexpr const char* kHandLimits =
    "[streams.m0-raw]\nscans = 10\n"
    "limits = [{ electrodes = \"all\", mean_min = 900, mean_max = 1100, p2p_max = 60 }]\n";

// SQL as the server's owner; false on an error.
bool OwnerSql(const PgCluster& pg, const std::string& sql) {
  std::string error;
  auto db = records::PgConnection::Open(pg.Url(), 5, error);
  return db && db->Exec(sql);
}

}  // namespace

TEST_F(ServerTest, TextsThatAreNotUtf8AreKeptAndARefusedRunHoldsUpNoOther) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb", "--rate", "2000", "--version-text", "FW\xff" "1.0"}));
  const std::string limits = sim.Dir() + "/hand.toml";
  std::ofstream(limits) << kHandLimits;
  const std::vector<std::string> env{"HIDPIPE_SIM=" + sim.Socket()};
  auto test = [&](const std::string& serial) {
    return std::vector<std::string>{"--usb",   "227D:0102", "--timeout", "5",        "test",
                                    "--limits", limits,     "--results", pg.Url(), "--serial",
                                    serial,     "--operator", "op\xfe"};
  };
  VantrelProcess odd(sim.Dir(), "odd");
  const auto r = odd(test("SN-\xc3("), env);
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(r.err.find("results"), std::string::npos) << r.err;
  std::string error;
  auto db = records::PgConnection::Open(pg.Url(), 5, error);
  ASSERT_TRUE(db) << error;
  std::vector<records::SqlRow> rows;
  ASSERT_TRUE(db->Exec("SELECT serial, operator, firmware_version FROM runs", {}, &rows));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(AsText(rows[0][0]), "SN-\\xC3(");
  EXPECT_EQ(AsText(rows[0][1]), "op\\xFE");
  EXPECT_EQ(AsText(rows[0][2]), "FW\\xFF1.0");

  // The server's owner refuses one unit: its run is set aside, the others are sent.
  ASSERT_TRUE(OwnerSql(pg, "ALTER TABLE runs ADD CONSTRAINT no_bad CHECK (serial <> 'SN-BAD')"));
  ASSERT_TRUE(pg.Stop());
  VantrelProcess away(sim.Dir(), "away");
  EXPECT_EQ(away(test("SN-BAD"), env).code, 0);
  EXPECT_EQ(away(test("SN-OK"), env).code, 0);
  ASSERT_TRUE(pg.Start());
  VantrelProcess sync(sim.Dir(), "sync");
  const auto s = sync({"results", "sync", "--results", pg.Url()}, env);
  EXPECT_EQ(s.code, 1) << s.out << s.err;
  EXPECT_NE(s.out.find("1 run(s) sent"), std::string::npos) << s.out;
  EXPECT_NE(s.out.find("1 run(s) refused by the server for their content"), std::string::npos)
      << s.out;
  auto stored = ServerRuns();
  EXPECT_EQ(stored.count("SN-OK"), 1u);
  EXPECT_EQ(stored.count("SN-BAD"), 0u);
  const auto p = sync({"results", "pending"}, env);
  EXPECT_EQ(p.code, 0) << p.err;
  EXPECT_NE(p.out.find("0 run(s) wait to be sent, 1 set aside"), std::string::npos) << p.out;
  EXPECT_NE(p.out.find("unit SN-BAD"), std::string::npos) << p.out;
  EXPECT_NE(p.out.find("set aside: results server: ERROR:  new row for relation \"runs\""),
            std::string::npos)
      << p.out;

  // Refused as it is kept: set aside at once, and later runs go to the server.
  const auto bad = away(test("SN-BAD"), env);
  EXPECT_EQ(bad.code, 0) << bad.err;
  EXPECT_NE(bad.err.find("the server refused the run for its content"), std::string::npos)
      << bad.err;
  const auto next = away(test("SN-NEXT"), env);
  EXPECT_EQ(next.code, 0) << next.err;
  EXPECT_EQ(next.err.find("results"), std::string::npos) << next.err;
  EXPECT_EQ(ServerRuns().count("SN-NEXT"), 1u);
}

TEST_F(ServerTest, ReadingWritesNothingAndAStalledServerNeverHoldsTheVerdict) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb", "--rate", "2000"}));
  const std::string limits = sim.Dir() + "/hand.toml";
  std::ofstream(limits) << kHandLimits;
  const std::vector<std::string> env{"HIDPIPE_SIM=" + sim.Socket()};
  auto test = [&](const std::string& serial) {
    return std::vector<std::string>{"--usb",    "227D:0102", "--timeout", "5",       "test",
                                    "--limits", limits,      "--results", pg.Url(), "--serial",
                                    serial};
  };
  VantrelProcess first(sim.Dir(), "first");
  ASSERT_EQ(first(test("SN-R"), env).code, 0);

  // A role that may only read.
  ASSERT_TRUE(OwnerSql(pg, "CREATE ROLE reader LOGIN"));
  ASSERT_TRUE(OwnerSql(pg, "GRANT SELECT ON ALL TABLES IN SCHEMA public TO reader"));
  std::string reader = pg.Url();
  reader.replace(reader.find("user=vantrel"), 12, "user=reader");
  VantrelProcess read(sim.Dir(), "read");
  const auto report = read({"report", "--results", reader, "-o", sim.Dir() + "/r.html"}, env);
  EXPECT_EQ(report.code, 0) << report.err;
  const auto shown = read({"results", "show", "SN-R", "--results", reader}, env);
  EXPECT_EQ(shown.code, 0) << shown.err;

  // A server that takes the run's rows and never answers: the verdict is shown first, the
  // wait is bounded and the run kept locally.
  std::string error;
  auto holder = records::PgConnection::Open(pg.Url(), 5, error);
  ASSERT_TRUE(holder) << error;
  ASSERT_TRUE(holder->Exec("BEGIN"));
  ASSERT_TRUE(holder->Exec("LOCK TABLE runs IN ACCESS EXCLUSIVE MODE"));
  VantrelProcess stalled(sim.Dir(), "stalled");
  ASSERT_TRUE(stalled.Start(test("SN-S"), env));
  EXPECT_TRUE(WaitUntil([&] {
    std::ifstream in(sim.Dir() + "/stalled.out");
    std::string out((std::istreambuf_iterator<char>(in)), {});
    return out.find("PASS") != std::string::npos;
  }, 20000));
  EXPECT_TRUE(stalled.Running()) << "the verdict came only once the run was kept";
  const auto r = stalled.Finish(90000);
  holder->Rollback();
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("statement timeout"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("until `vantrel results sync` sends it"), std::string::npos) << r.err;
  EXPECT_EQ(LocalCount(stalled.LocalDb(), "SELECT count(*) FROM runs WHERE pending = 1"), 1);
}
