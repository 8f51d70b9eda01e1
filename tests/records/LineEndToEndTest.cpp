// The line's figures over runs made against tpcsim: a unit that fails and passes on its
// retest (first-pass against final yield, as the database itself gives them), and a drift
// injected with tpcsim --offset growing unit by unit after twenty sound units (each its
// own panel: another --seed): the report's alarm names the electrode within 10 units of a
// 1 sigma shift, the JSON and CSV carry the same figures, and vantrel test --spc says so
// on a unit that passes.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/SimProcess.h"
#include "records/RecordsTestData.h"
#include "records/ResultsStore.h"
#include "records/VantrelProcess.h"

namespace {

// Each unit's first and last verdict at its station, from the database itself.
void YieldFromDatabase(const std::string& path, long& units, long& first, long& final) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT serial, station, verdict FROM runs WHERE verdict IN ('pass','fail')"
                     " ORDER BY started_utc, uuid",
                     -1, &st, nullptr);
  std::map<std::string, std::pair<std::string, std::string>> verdicts;  // first, last
  while (sqlite3_step(st) == SQLITE_ROW) {
    const std::string key = std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) +
                            "\n" + reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
    const std::string v = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
    auto [it, fresh] = verdicts.try_emplace(key, v, v);
    if (!fresh) it->second.second = v;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  units = long(verdicts.size());
  first = final = 0;
  for (const auto& [k, v] : verdicts) {
    first += v.first == "pass";
    final += v.second == "pass";
  }
}

}  // namespace

TEST(LineEndToEnd, RetestsAndAnInjectedDriftAsTheReportShowsThem) {
  SimProcess sim;
  const std::string dir = sim.Dir(), db = dir + "/results.db", limits = dir + "/limits.toml";
  {
    std::ofstream(limits)
        << "[streams.m0-raw]\nscans = 10\nlimits = [ { electrodes = \"all\", "
           "mean_min = 900, mean_max = 1100, p2p_max = 100, stddev_max = 40 } ]\n";
  }
  const std::vector<std::string> env{"HIDPIPE_SIM=" + sim.Socket()};
  VantrelProcess vantrel(dir, "vantrel");
  auto test = [&](const std::string& serial, int expected, std::vector<std::string> more = {}) {
    std::vector<std::string> args{"--usb", "227D:0102", "test",         "--limits",
                                  limits,  "--results", "sqlite:" + db, "--serial",
                                  serial,  "--station", "ST1"};
    args.insert(args.end(), more.begin(), more.end());
    auto r = vantrel(args, env);
    EXPECT_EQ(r.code, expected) << serial << "\n" << r.out << r.err;
    return r;
  };
  // Twenty sound panels, one of which fails first (a noisy electrode) and passes its retest.
  for (int unit = 0; unit < 20; ++unit) {
    ASSERT_TRUE(sim.Start({"--usb", "--rate", "4000", "--seed", std::to_string(1000 + unit)}));
    if (unit == 7) {
      ASSERT_TRUE(sim.Ok("electrode x 5 noisy 80"));
      test("SN" + std::to_string(unit), 1);
      ASSERT_TRUE(sim.Ok("electrode off"));
    }
    test("SN" + std::to_string(unit), 0);
    ASSERT_TRUE(sim.Stop());
  }
  // Then the drift: every raw value one count higher with each unit.
  for (int unit = 20; unit < 32; ++unit) {
    ASSERT_TRUE(sim.Start({"--usb", "--rate", "4000", "--seed", std::to_string(1000 + unit),
                           "--offset", std::to_string(unit - 19)}));
    const auto r = test("SN" + std::to_string(unit), 0, {"--spc"});
    if (unit == 31) {
      EXPECT_NE(r.out.find("open drift alarm"), std::string::npos) << r.out;
    }
    ASSERT_TRUE(sim.Stop());
  }

  const std::string json = dir + "/report.json";
  auto report = vantrel(
      {"report", "--results", "sqlite:" + db, "--format", "json", "-o", json, "--target", "98"});
  ASSERT_EQ(report.code, 0) << report.err;
  std::ifstream in(json);
  const auto j = nlohmann::json::parse(in);

  long units = 0, first = 0, final = 0;
  YieldFromDatabase(db, units, first, final);
  EXPECT_EQ(units, 32);
  EXPECT_EQ(first, 31);
  EXPECT_EQ(final, 32);
  EXPECT_EQ(j["yield"]["units"], units);
  EXPECT_EQ(j["yield"]["first_pass_passed"], first);
  EXPECT_EQ(j["yield"]["final_passed"], final);
  EXPECT_EQ(j["yield"]["retests"], 1);

  // X0's reference: the first twenty units' means (the retested unit once per run).
  const auto& alarms = j["alarms"];
  const nlohmann::json* x0 = nullptr;
  for (const auto& a : alarms)
    if (a["group"] == "m0-raw" && a["item"] == "X0" && a["check"] == "mean") x0 = &a;
  ASSERT_TRUE(x0) << alarms.dump(1);
  const double sigma = (*x0)["reference_sigma"].get<double>();
  ASSERT_GT(sigma, 0);
  // The first unit whose offset reached 1 sigma, and the unit the alarm names.
  const int shifted = 20 + std::max(0, int(std::ceil(sigma)) - 1);
  const int named = std::stoi((*x0)["since_unit"].get<std::string>().substr(2));
  EXPECT_GE(named, 20) << "no alarm before the drift";
  EXPECT_LE(named, shifted + 10) << "sigma " << sigma;
  EXPECT_EQ((*x0)["direction"], "high");

  auto csv = vantrel({"report", "--results", "sqlite:" + db, "--format", "csv", "-o", "-"});
  ASSERT_EQ(csv.code, 0) << csv.err;
  EXPECT_NE(csv.out.find("yield,all,all,final_passed,32\r\n"), std::string::npos)
      << csv.out.substr(0, 400);
  EXPECT_NE(
      csv.out.find("alarm,m0-raw,X0 mean,since_unit," + (*x0)["since_unit"].get<std::string>()),
      std::string::npos);

  // Robust limits from the kept runs: every unit that passed at ST1, then three listed ones.
  auto read = [](const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  };
  const std::string learned = dir + "/learned.toml", serials = dir + "/serials.txt";
  auto learn = vantrel(
      {"learn", "--from-results", "--results", "sqlite:" + db, "--station", "ST1", "-o", learned});
  ASSERT_EQ(learn.code, 0) << learn.err;
  const std::string file = read(learned);
  EXPECT_NE(file.find("the newest passing self test of each unit at station ST1"),
            std::string::npos)
      << file.substr(0, 800);
  EXPECT_NE(file.find("Learnt robustly from 32 panel(s)"), std::string::npos);
  EXPECT_NE(file.find("Expected false-fail rate: "), std::string::npos);
  EXPECT_EQ(file.find("WARNING"), std::string::npos);
  std::ofstream(serials) << "SN0\n# a comment\nSN1\r\nSN2\n";
  learn = vantrel({"learn", "--from-results", "--results", "sqlite:" + db, "--serials", serials,
                   "-o", learned});
  ASSERT_EQ(learn.code, 0) << learn.err;
  EXPECT_NE(learn.err.find("warning: only 3 panel(s)"), std::string::npos) << learn.err;
  EXPECT_NE(read(learned).find("WARNING: fewer than 30 panels"), std::string::npos);
  std::ofstream(serials) << "SN404\n";
  learn = vantrel({"learn", "--from-results", "--results", "sqlite:" + db, "--serials", serials,
                   "-o", learned});
  EXPECT_EQ(learn.code, 2);
  EXPECT_NE(learn.err.find("no kept self test of unit \"SN404\""), std::string::npos) << learn.err;

  // Ten sound units as the learning set, their spread from percentiles: the file names
  // their runs, and the report charts against those ten instead of the first twenty.
  std::ofstream ten(serials);
  for (int unit = 0; unit < 10; ++unit) ten << "SN" << unit << "\n";
  ten.close();
  learn = vantrel({"learn", "--from-results", "--results", "sqlite:" + db, "--serials", serials,
                   "--percentiles", "10,90", "-o", learned});
  ASSERT_EQ(learn.code, 0) << learn.err;
  const std::string tenFile = read(learned);
  EXPECT_NE(tenFile.find("sigma = (P90 - P10) / 2.563"), std::string::npos) << tenFile;
  EXPECT_NE(tenFile.find("Expected false-fail rate: "), std::string::npos);
  EXPECT_NE(tenFile.find("[learned]"), std::string::npos);
  auto learnt = vantrel(
      {"report", "--results", "sqlite:" + db, "--format", "json", "--learned", learned, "-o", "-"});
  ASSERT_EQ(learnt.code, 0) << learnt.err;
  const auto l = nlohmann::json::parse(learnt.out);
  const nlohmann::json* lx0 = nullptr;
  for (const auto& a : l["alarms"])
    if (a["group"] == "m0-raw" && a["item"] == "X0" && a["check"] == "mean") lx0 = &a;
  ASSERT_TRUE(lx0) << l["alarms"].dump(1);
  EXPECT_EQ((*lx0)["reference_units"], 10);
  const double lsigma = (*lx0)["reference_sigma"].get<double>();
  const int lnamed = std::stoi((*lx0)["since_unit"].get<std::string>().substr(2));
  EXPECT_GE(lnamed, 20) << "no alarm before the drift";
  EXPECT_LE(lnamed, 20 + std::max(0, int(std::ceil(lsigma)) - 1) + 10) << "sigma " << lsigma;
  // A file learnt elsewhere names no runs: the first units stay the reference.
  auto plain = vantrel(
      {"report", "--results", "sqlite:" + db, "--format", "json", "--learned", limits, "-o", "-"});
  ASSERT_EQ(plain.code, 0) << plain.err;
  EXPECT_NE(plain.err.find("names no learning set"), std::string::npos) << plain.err;
}

TEST(LineEndToEnd, AnOlderDatabaseIsReadOnlyOnceUpgraded) {
  SimProcess folder;  // only its private folder
  const std::string dir = folder.Dir(), db = dir + "/results.db";
  {
    records::ResultsUrl u;
    u.path = db;
    std::string error;
    auto store = records::ResultsStore::Open(u, error);
    ASSERT_TRUE(store) << error;
    for (const char* serial : {"SN1", "SN2", "SN1"})
      ASSERT_EQ(store->Save(MadeUpRun(serial, "ST1", "2026-12-01T08:00:00.000Z", 5)),
                records::ResultsStore::Saved::kStored);
    ASSERT_TRUE(BackToVersion4(store->Db())) << store->Db().Error();
  }
  VantrelProcess vantrel(dir, "vantrel");
  const std::vector<std::string> report = {"report", "--results", "sqlite:" + db, "--format",
                                           "json", "-o", "-"};
  auto old = vantrel(report);
  EXPECT_EQ(old.code, 2);
  EXPECT_NE(old.err.find("vantrel results upgrade"), std::string::npos) << old.err;
  auto upgrade = vantrel({"results", "upgrade", "--results", "sqlite:" + db});
  ASSERT_EQ(upgrade.code, 0) << upgrade.err;
  EXPECT_NE(upgrade.out.find("schema version " +
                             std::to_string(records::ResultsStore::SchemaVersion())),
            std::string::npos);
  auto now = vantrel(report);
  ASSERT_EQ(now.code, 0) << now.err;
  const auto j = nlohmann::json::parse(now.out);
  EXPECT_EQ(j["yield"]["units"], 2);
  EXPECT_EQ(j["yield"]["retests"], 1);
  auto missing = vantrel({"results", "upgrade", "--results", "sqlite:" + dir + "/none.db"});
  EXPECT_EQ(missing.code, 2);
  EXPECT_FALSE(std::filesystem::exists(dir + "/none.db"));
}

TEST(LineEndToEnd, GaugeStudyOfAFileStatesItsConventions) {
  SimProcess folder;  // only its private folder
  const std::string dir = folder.Dir(), csv = dir + "/study.csv";
  {
    // The reference manual's study (see the analysis tests), as measurements made elsewhere.
    const double trials[3][3][10] = {
        {{0.29, -0.56, 1.34, 0.47, -0.80, 0.02, 0.59, -0.31, 2.26, -1.36},
         {0.41, -0.68, 1.17, 0.50, -0.92, -0.11, 0.75, -0.20, 1.99, -1.25},
         {0.64, -0.58, 1.27, 0.64, -0.84, -0.21, 0.66, -0.17, 2.01, -1.31}},
        {{0.08, -0.47, 1.19, 0.01, -0.56, -0.20, 0.47, -0.63, 1.80, -1.68},
         {0.25, -1.22, 0.94, 1.03, -1.20, 0.22, 0.55, 0.08, 2.12, -1.62},
         {0.07, -0.68, 1.34, 0.20, -1.28, 0.06, 0.83, -0.34, 2.19, -1.50}},
        {{0.04, -1.38, 0.88, 0.14, -1.46, -0.29, 0.02, -0.46, 1.77, -1.49},
         {-0.11, -1.13, 1.09, 0.20, -1.07, -0.67, 0.01, -0.56, 1.45, -1.77},
         {-0.15, -0.96, 0.67, 0.11, -1.45, -0.49, 0.21, -0.49, 1.87, -2.16}}};
    std::ofstream out(csv);
    out << "part,station,trial,value\r\n";
    for (int a = 0; a < 3; ++a)
      for (int t = 0; t < 3; ++t)
        for (int p = 0; p < 10; ++p)
          out << p + 1 << "," << char('A' + a) << "," << t + 1 << "," << trials[a][t][p] << "\r\n";
  }
  VantrelProcess vantrel(dir, "vantrel");
  auto pooled = vantrel({"grr", "--data", csv, "--tolerance", "8"});
  ASSERT_EQ(pooled.code, 0) << pooled.err;
  // Repeatability: sqrt((0.3590 + 2.7589) / 78) with the interaction pooled.
  EXPECT_NE(pooled.out.find("0.1999"), std::string::npos) << pooled.out;
  EXPECT_NE(pooled.out.find("pooled into repeatability when its p-value is 0.25"),
            std::string::npos);
  EXPECT_NE(pooled.out.find("10 parts x 3 station(s) x 3 trials"), std::string::npos);
  auto kept = vantrel({"grr", "--data", csv, "--pool-alpha", "0", "--spread", "5.15"});
  ASSERT_EQ(kept.code, 0) << kept.err;
  EXPECT_NE(kept.out.find("0.2144"), std::string::npos) << "sqrt(2.7589 / 60)\n" << kept.out;
  EXPECT_NE(kept.out.find("never pooled"), std::string::npos);
  EXPECT_NE(kept.out.find("5.15 sigma"), std::string::npos);
  std::ofstream(csv, std::ios::app) << "1,A,1,0.5\r\n";
  auto twice = vantrel({"grr", "--data", csv});
  EXPECT_EQ(twice.code, 2);
  EXPECT_NE(twice.err.find("is there twice"), std::string::npos) << twice.err;
}

TEST(LineEndToEnd, GuidedGaugeStudyAddsEachStationsMeasurements) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb", "--rate", "4000"}));
  const std::string dir = sim.Dir(), study = dir + "/study.csv", enter = dir + "/enter.txt";
  const std::vector<std::string> env{"HIDPIPE_SIM=" + sim.Socket()};
  VantrelProcess vantrel(dir, "vantrel");
  vantrel.Input(enter);
  auto measure = [&](const std::string& station) {
    return vantrel({"--usb", "227D:0102", "grr", "--station", station, "--parts", "2", "--trials",
                    "2", "--scans", "5", "-o", study},
                   env);
  };
  std::ofstream(enter) << "\n";  // the operator stops after the first part
  auto stopped = measure("A");
  EXPECT_EQ(stopped.code, 130);
  EXPECT_NE(stopped.err.find("nothing added"), std::string::npos) << stopped.err;
  EXPECT_FALSE(std::filesystem::exists(study));
  std::ofstream(enter) << "\n\n\n\n";
  for (const char* station : {"A", "B"}) {
    auto r = measure(station);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("Trial 2 of 2: put part 2 in"), std::string::npos) << r.err;
  }
  std::ifstream in(study);
  long lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  EXPECT_EQ(lines, 1 + 2 * 2 * 2 * 60)
      << "a header, then 2 parts x 2 trials x 2 stations x 60 means";
  auto result = vantrel({"grr", "--data", study});
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_NE(result.out.find("2 parts x 2 station(s) x 2 trials, 60 check(s)"), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("m0-raw X0 mean"), std::string::npos);
}
