// A station's own results database: a damaged one is found before the panel is measured,
// one that fails after it leaves the run in a file, a locked one is read at once and a
// wait on it is said, and what the records show is cleaned of terminal sequences.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "common/SimProcess.h"
#include "records/VantrelProcess.h"

namespace {

constexpr const char* kLimits =
    "[streams.m0-raw]\nscans = 20\n"
    "limits = [{ electrodes = \"all\", mean_min = 900, mean_max = 1100, p2p_max = 60 }]\n";

class StationRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.Start({"--usb", "--rate", "2000"}));
    std::ofstream(limits) << kLimits;
  }
  std::vector<std::string> Test(const std::string& serial,
                                std::vector<std::string> extra = {}) const {
    std::vector<std::string> a{"--usb", "227D:0102", "--timeout", "5", "test", "--limits",
                               limits, "--serial", serial};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  }
  // SQL on the station's database, as another program would run it; false on an error.
  static bool Sql(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  bool StreamRuns() {
    return WaitUntil(
        [&] { return sim.Command("status").find("stream=none") == std::string::npos; });
  }

  SimProcess sim;
  const std::string limits = sim.Dir() + "/limits.toml";
  const std::vector<std::string> env{"HIDPIPE_SIM=" + sim.Socket(),
                                     "XDG_DATA_HOME=" + sim.Dir() + "/data"};
};

}  // namespace

TEST_F(StationRecords, ADatabaseThatCannotTakeTheRunIsFoundBeforeMeasuringOrLeavesAFile) {
  VantrelProcess first(sim.Dir(), "first");
  const auto made = first(Test("SN-1"), env);
  ASSERT_EQ(made.code, 0) << made.out << made.err;
  const std::string db = first.LocalDb();

  // A run whose store fails once the panel is measured: the verdict stands, the run is
  // left as a file beside the report and named.
  ASSERT_TRUE(sim.Ok("rate 100"));
  VantrelProcess late(sim.Dir(), "late");
  const std::string junit = sim.Dir() + "/reports/r.xml";
  std::filesystem::create_directories(sim.Dir() + "/reports");
  ASSERT_TRUE(late.Start(Test("SN-2", {"--scans", "50", "--junit", junit}), env));
  ASSERT_TRUE(StreamRuns());
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
  ASSERT_TRUE(Sql(h, "CREATE TRIGGER refuse BEFORE INSERT ON runs BEGIN "
                     "SELECT RAISE(ABORT, 'the disk said no'); END"));
  ASSERT_TRUE(late.Running()) << "the run ended before its store failed";
  const auto r = late.Finish();
  EXPECT_EQ(r.code, 2) << r.out << r.err;
  EXPECT_NE(r.out.find("PASS"), std::string::npos) << r.out;
  const size_t at = r.err.find("the run is saved in " + sim.Dir() + "/reports/vantrel-run-");
  ASSERT_NE(at, std::string::npos) << r.err;
  std::string file = r.err.substr(at + 20);
  file = file.substr(0, file.find('\n'));
  std::ifstream saved(file);
  std::string json((std::istreambuf_iterator<char>(saved)), {});
  EXPECT_NE(json.find("\"serial\": \"SN-2\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"verdict\": \"pass\""), std::string::npos) << json;
  ASSERT_TRUE(Sql(h, "DROP TRIGGER refuse"));
  sqlite3_close(h);

  // Tables damaged past the version: refused before anything is measured.
  ASSERT_TRUE(sim.Ok("rate 2000"));
  {
    std::fstream f(db, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(0, std::ios::end);
    const std::streamoff size = f.tellg();
    ASSERT_GT(size, 3 * 4096);
    f.seekp(2 * 4096);
    f << std::string(static_cast<size_t>(size - 2 * 4096), '\xA5');
  }
  VantrelProcess damaged(sim.Dir(), "damaged");
  const auto d = damaged(Test("SN-3"), env);
  EXPECT_EQ(d.code, 2) << d.out << d.err;
  EXPECT_EQ(d.out.find("PASS"), std::string::npos) << d.out;
  EXPECT_NE(d.err.find("vantrel: results: "), std::string::npos) << d.err;
  EXPECT_NE(sim.Command("status").find("stream=none"), std::string::npos);

  // A file that is no database: said once, with its name once.
  const std::string junk = sim.Dir() + "/junk.db";
  std::ofstream(junk) << std::string(5000, 'j');
  VantrelProcess read(sim.Dir(), "read");
  const auto j = read({"report", "--results", "sqlite:" + junk, "-o", sim.Dir() + "/r.html"}, env);
  EXPECT_EQ(j.code, 2);
  EXPECT_NE(j.err.find("file is not a database"), std::string::npos) << j.err;
  EXPECT_EQ(j.err.find(junk), j.err.rfind(junk)) << j.err;
}

TEST_F(StationRecords, ALockedDatabaseIsReadAtOnceAndAWaitForItIsSaid) {
  const std::string serial = "SN-\x1b[2J\x1b]0;owned\x07-4";
  VantrelProcess first(sim.Dir(), "first");
  const auto made = first(Test(serial, {"--operator", "op\x1b[31m", "--station", "ST\x9b" "1"}), env);
  ASSERT_EQ(made.code, 0) << made.out << made.err;

  // Another program holds the write lock: reading neither waits nor writes.
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open(first.LocalDb().c_str(), &h), SQLITE_OK);
  ASSERT_TRUE(Sql(h, "BEGIN IMMEDIATE"));
  VantrelProcess read(sim.Dir(), "read");
  const auto report =
      read({"report", "-o", sim.Dir() + "/report.html"}, env, 20000);
  EXPECT_EQ(report.code, 0) << report.err;
  const auto shown = read({"results", "show", serial}, env, 20000);
  EXPECT_EQ(shown.code, 0) << shown.err;
  // Terminal sequences from the texts are shown as bytes, never sent to the terminal.
  EXPECT_EQ(shown.out.find('\x1b'), std::string::npos) << shown.out;
  EXPECT_EQ(shown.out.find('\x07'), std::string::npos) << shown.out;
  EXPECT_EQ(shown.out.find('\x9b'), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("\\x1B[2J"), std::string::npos) << shown.out;

  // A run waits for the lock, and says so; once it is free the run is kept.
  VantrelProcess waits(sim.Dir(), "waits");
  ASSERT_TRUE(waits.Start(Test("SN-5"), env));
  EXPECT_TRUE(WaitUntil([&] {
    std::ifstream in(sim.Dir() + "/waits.err");
    std::string err((std::istreambuf_iterator<char>(in)), {});
    return err.find("is locked by another program") != std::string::npos;
  }, 20000));
  ASSERT_TRUE(Sql(h, "COMMIT"));
  sqlite3_close(h);
  const auto w = waits.Finish();
  EXPECT_EQ(w.code, 0) << w.out << w.err;
}
