// vantrel noise-sweep against tpcsim's signal generator: the band the simulated panel is
// susceptible in is found, and nothing outside it; every way the sweep ends early (a
// refused command, a lost connection, Ctrl+C, the controller gone) leaves the generator's
// output off, keeps the points done and says NOT MEASURED; a resumed sweep ends as an
// uninterrupted one.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/JUnitSchema.h"
#include "cli/VantrelRun.h"
#include "common/SimProcess.h"

namespace {

constexpr double kBandFrom = 100e3, kBandTo = 300e3;
constexpr int kLong = 40;  // points of a sweep that is stopped on the way

struct Row {
  double hz = 0;
  std::string result;
};

// The "all" rows of a sweep file: one per finished point.
std::vector<Row> Points(const std::string& csv) {
  std::vector<Row> out;
  std::istringstream in(csv);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> c;
    std::istringstream row(line);
    std::string cell;
    while (std::getline(row, cell, ',')) c.push_back(cell);
    if (c.size() == 13 && c[4] == "all") {
      while (!c[12].empty() && c[12].back() == '\r') c[12].pop_back();
      out.push_back({std::stod(c[0]), c[12]});
    }
  }
  return out;
}

class NoiseSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.Start({"--usb", "--scpi", "0"}));
    const std::string g = sim.Command("generator");
    const size_t at = g.find("scpi=");
    ASSERT_NE(at, std::string::npos) << g;
    address = "tcp://127.0.0.1:" + std::to_string(std::stoi(g.substr(at + 5)));
    ASSERT_TRUE(sim.Ok("noise-band " + std::to_string(kBandFrom) + " " + std::to_string(kBandTo) + " 5"));
    ASSERT_TRUE(sim.Ok("noise-ghosts 40 1"));
    std::ofstream(limits) << "[panel]\nwidth_mm = 190\nheight_mm = 110\n[noise]\nstddev_max = 8\n";
  }

  // file: the sweep file (--csv); "" none.
  std::vector<std::string> Args(int points, std::vector<std::string> extra = {},
                                const std::string& file = "-") {
    std::vector<std::string> a{"noise-sweep", "--generator", address, "--from", "10000", "--to",
                               "1000000", "--points", std::to_string(points), "--log",
                               "--settle", "0.15", "--dwell", "0.15", "--limits", limits,
                               "--results", "sqlite:" + db, "--serial", "SN1"};
    if (!file.empty()) a.insert(a.end(), {"--csv", file == "-" ? csv : file});
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  }

  // Every point inside the band fails and every one outside passes.
  void ExpectBandFound(const std::vector<Row>& rows, size_t expected) {
    ASSERT_EQ(rows.size(), expected);
    int inside = 0;
    for (const Row& r : rows) {
      const bool in = r.hz >= kBandFrom && r.hz <= kBandTo;
      inside += in;
      EXPECT_EQ(r.result, in ? "fail" : "pass") << r.hz << " Hz";
    }
    EXPECT_GT(inside, 0);
  }

  void ExpectOutputOff() {
    const std::string g = sim.Command("generator");
    EXPECT_NE(g.find("output=off"), std::string::npos) << g;
  }

  // Starts a long sweep and waits until n points are in its file.
  pid_t StartAndWait(size_t n, std::vector<std::string> extra = {}) {
    const pid_t pid = vantrel.Start(Args(kLong, std::move(extra)));
    EXPECT_TRUE(WaitUntil([&] { return Points(Slurp(csv)).size() >= n; }, 30000))
        << Slurp(vantrel.File("err.txt"));
    EXPECT_NE(sim.Command("generator").find("output=on"), std::string::npos);
    return pid;
  }

  // A sweep ended early: output off, the points done kept, NOT MEASURED.
  void ExpectEndedEarly(const Outcome& r, size_t atLeast) {
    EXPECT_NE(r.out.find("NOT MEASURED"), std::string::npos) << r.out << r.err;
    ExpectOutputOff();
    const auto rows = Points(Slurp(csv));
    EXPECT_GE(rows.size(), atLeast);
    EXPECT_LT(rows.size(), static_cast<size_t>(kLong));
  }

  SimProcess sim;
  Vantrel vantrel{sim};
  std::string address;
  const std::string limits = vantrel.File("limits.toml");
  const std::string csv = vantrel.File("sweep.csv");
  const std::string db = vantrel.File("results.db");
};

}  // namespace

TEST_F(NoiseSweep, NothingOnTheGlassFindsTheBandByNoiseAndGhosts) {
  const std::string junit = vantrel.File("sweep.xml");
  Outcome r = vantrel(Args(14, {"--junit", junit}), 120000);
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  ExpectBandFound(Points(Slurp(csv)), 14);
  EXPECT_NE(r.out.find("FAIL band 1"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("left"), std::string::npos) << "progress with the time left\n" << r.err;
  ExpectOutputOff();
  // Ghosts are counted where the noise reaches the ghost level: in the band.
  std::istringstream in(Slurp(csv));
  std::string line;
  while (std::getline(in, line))
    if (line.find(",all,") != std::string::npos && line.find(",pass") != std::string::npos) {
      EXPECT_NE(line.find(",,0,,"), std::string::npos) << "no ghost outside the band: " << line;
    }
  // The generator was named in the reports; the run is kept as a noise sweep.
  EXPECT_EQ(JUnitProblems(junit), "");
  EXPECT_NE(Slurp(junit).find("tpcsim,simulated signal generator"), std::string::npos);
  vantrel.NoLinkOptions();
  Outcome shown = vantrel({"results", "show", "SN1", "--results", "sqlite:" + db});
  EXPECT_NE(shown.out.find("noise  fail"), std::string::npos) << shown.out << shown.err;
}

TEST_F(NoiseSweep, HeldFingerFindsTheBandByItsJitterAndSignalToNoise) {
  std::ofstream(limits) << "[panel]\nwidth_mm = 190\nheight_mm = 110\n[noise]\n"
                           "ghost_max = 100\njitter_max_mm = 0.3\nsnr_min_db = 14\n";
  ASSERT_TRUE(sim.Ok("touch hold 0 1200 700"));
  Outcome r = vantrel(Args(14, {"--touch", "held"}), 120000);
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  ExpectBandFound(Points(Slurp(csv)), 14);
  ExpectOutputOff();
}

TEST_F(NoiseSweep, RefusedCommandStopsTheSweepNamingIt) {
  const pid_t pid = StartAndWait(3);
  ASSERT_TRUE(sim.Ok("scpi-refuse FREQ"));
  Outcome r = vantrel.Finish(pid, 60000);
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.out.find("the generator refused \"FREQ "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Execution error"), std::string::npos) << r.out;
  ExpectEndedEarly(r, 3);
}

TEST_F(NoiseSweep, LostConnectionKeepsThePointsAndSwitchesTheOutputOff) {
  const pid_t pid = StartAndWait(3);
  ASSERT_TRUE(sim.Ok("scpi-drop"));
  Outcome r = vantrel.Finish(pid, 60000);
  EXPECT_EQ(r.code, 2);
  ExpectEndedEarly(r, 3);
}

TEST_F(NoiseSweep, ControllerGoneSwitchesTheOutputOff) {
  const pid_t pid = StartAndWait(3);
  ASSERT_TRUE(sim.Ok("unplug"));
  Outcome r = vantrel.Finish(pid, 60000);
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.out.find("went away"), std::string::npos) << r.out;
  ExpectEndedEarly(r, 3);
}

TEST_F(NoiseSweep, InterruptedSweepResumesToTheSameResult) {
  for (int sig : {SIGINT, SIGTERM}) {
    const pid_t pid = StartAndWait(sig == SIGINT ? 3 : 15);
    ::kill(pid, sig);
    Outcome r = vantrel.Finish(pid, 60000);
    EXPECT_EQ(r.code, 130);
    ExpectEndedEarly(r, sig == SIGINT ? 3 : 15);
    if (sig == SIGINT) {
      // Resumed and stopped again: the file goes on from its last point.
      const pid_t again = vantrel.Start(Args(kLong, {"--resume", csv}, ""));
      const size_t before = Points(Slurp(csv)).size();
      EXPECT_TRUE(WaitUntil([&] { return Points(Slurp(csv)).size() >= before + 5; }, 30000));
      ::kill(again, SIGINT);
      EXPECT_EQ(vantrel.Finish(again, 60000).code, 130);
      ExpectOutputOff();
      ASSERT_NE(::unlink(csv.c_str()), -1);  // SIGTERM: a fresh sweep
    }
  }
  Outcome r = vantrel(Args(kLong, {"--resume", csv}, ""), 120000);
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("resuming after"), std::string::npos) << r.err;
  const auto resumed = Points(Slurp(csv));
  ExpectBandFound(resumed, kLong);
  std::set<double> seen;
  for (const Row& p : resumed) EXPECT_TRUE(seen.insert(p.hz).second) << "twice: " << p.hz;

  // The same sweep uninterrupted gives the same verdicts.
  const std::string whole = vantrel.File("whole.csv");
  Outcome u = vantrel(Args(kLong, {}, whole), 120000);
  EXPECT_EQ(u.code, r.code);
  const auto straight = Points(Slurp(whole));
  ASSERT_EQ(straight.size(), resumed.size());
  for (size_t i = 0; i < straight.size(); ++i) {
    EXPECT_EQ(straight[i].hz, resumed[i].hz);
    EXPECT_EQ(straight[i].result, resumed[i].result) << straight[i].hz;
  }
  // A file of another sweep is refused, and nothing is driven.
  Outcome refused = vantrel(Args(kLong, {"--resume", csv, "--amplitude", "5"}, ""));
  EXPECT_EQ(refused.code, 2);
  EXPECT_NE(refused.err.find("same --waveform, --amplitude"), std::string::npos) << refused.err;
}
