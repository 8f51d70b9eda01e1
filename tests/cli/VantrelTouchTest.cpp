// vantrel touch against a tpcsim: the guided run, the panel defects the simulator puts in
// and the value measured, the reports, and a capture scored again with other limits.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/JUnitSchema.h"
#include "cli/VantrelRun.h"
#include "common/SimProcess.h"

namespace {

// The value of a check in vantrel's CSV ("test,subject: check,,1.04 mm,<= 0.50 mm,fail").
double CsvValue(const std::string& csv, const std::string& check, std::string* result = nullptr) {
  std::istringstream in(csv);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find(": " + check + ",") == std::string::npos) continue;
    std::vector<std::string> cells;
    std::istringstream row(line);
    std::string cell;
    while (std::getline(row, cell, ',')) cells.push_back(cell);
    if (cells.size() < 6) break;
    if (result) *result = cells[5].substr(0, cells[5].find('\r'));
    return std::stod(cells[3]);
  }
  ADD_FAILURE() << "no check \"" << check << "\" in\n" << csv;
  return -1;
}

class VantrelTouch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.Start({"--usb"}));
    std::ofstream(limits) << "[panel]\nwidth_mm = 190\nheight_mm = 110\n";
  }

  // Starts a test, waits for its prompt, plays the script and waits for the end.
  Outcome Touch(const std::string& test, const std::vector<std::string>& script,
                std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"touch", test, "--limits", limits, "--csv", csv};
    args.insert(args.end(), extra.begin(), extra.end());
    const pid_t pid = vantrel.Start(args);
    const std::string err = vantrel.File("err.txt");
    EXPECT_TRUE(WaitUntil([&] { return Slurp(err).find('\n') != std::string::npos; }))
        << "no prompt";
    for (const std::string& line : script) {
      if (line == "wait lift") {
        EXPECT_TRUE(WaitUntil([&] { return Slurp(err).find("Lift now.") != std::string::npos; }));
        continue;
      }
      EXPECT_TRUE(sim.Ok(line)) << line;
    }
    return vantrel.Finish(pid, 30000);
  }

  // The ghost test: the quiet window, then, once asked for, the noise source on and Enter.
  Outcome Ghost(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"touch", "ghost", "--seconds", "1.5", "--junit", junit};
    args.insert(args.end(), extra.begin(), extra.end());
    int in = -1;
    const pid_t pid = vantrel.Start(args, nullptr, &in);
    EXPECT_TRUE(WaitUntil([&] {
      return Slurp(vantrel.File("err.txt")).find("press Enter") != std::string::npos;
    })) << "not asked for the noise";
    EXPECT_TRUE(sim.Ok("noise-source on"));
    EXPECT_EQ(::write(in, "\n", 1), 1);
    ::close(in);
    Outcome r = vantrel.Finish(pid, 30000);
    EXPECT_TRUE(sim.Ok("noise-source off"));
    return r;
  }

  SimProcess sim;
  Vantrel vantrel{sim};
  const std::string limits = vantrel.File("limits.toml");
  const std::string csv = vantrel.File("checks.csv");
  const std::string junit = vantrel.File("touch.xml");
};

// The failures of a JUnit suite, -1 without the suite.
int SuiteFailures(const std::string& xml, const std::string& suite) {
  const size_t at = xml.find("<testsuite name=\"" + suite + "\"");
  if (at == std::string::npos) return -1;
  const size_t f = xml.find("failures=\"", at);
  return f == std::string::npos ? -1 : std::stoi(xml.substr(f + 10));
}

}  // namespace

TEST_F(VantrelTouch, JitterPassesAQuietPanelAndFailsANoisyOneByItsNoise) {
  for (double mm : {0.2, 1.0}) {
    ASSERT_TRUE(sim.Ok("touch-fault noise " + std::to_string(mm)));
    Outcome r = Touch("jitter", {"touch hold 0 1200 700", "wait lift", "touch up 0"});
    EXPECT_EQ(r.code, mm < 0.5 ? 0 : 1) << r.out << r.err;
    EXPECT_NE(r.err.find("Hold one finger still for 3 s"), std::string::npos) << r.err;
    EXPECT_NEAR(CsvValue(Slurp(csv), "jitter"), mm, 0.1 * mm + 0.06);
  }
  // Coordinates were given back to the cursor.
  EXPECT_NE(sim.Command("status").find("target=0"), std::string::npos);
}

TEST_F(VantrelTouch, PincushionFailsLinearityByItsDepth) {
  const std::vector<std::string> line{"touch line 0 122 141 2310 141 1500"};
  Outcome clean = Touch("linearity", line);
  EXPECT_EQ(clean.code, 0) << clean.out << clean.err;
  ASSERT_TRUE(sim.Ok("touch-fault pincushion 1.5"));
  Outcome bent = Touch("linearity", line);
  EXPECT_EQ(bent.code, 1) << bent.out;
  EXPECT_NEAR(CsvValue(Slurp(csv), "linearity"), 1.5, 0.2);
  EXPECT_NE(bent.out.find("FAIL stroke 1 (contact 0): linearity"), std::string::npos) << bent.out;
}

TEST_F(VantrelTouch, SlowPanelFailsTheRateAndItsCaptureIsScoredAgain) {
  ASSERT_TRUE(sim.Ok("touch-rate 70"));
  // The rate is scored here. The simulated panel is a program of the loaded machine: a
  // pause of its own is a real gap in its reports, so the gap limit is left wide.
  std::ofstream(limits, std::ios::app) << "[touch]\ngap_max_periods = 1000\n";
  const std::string record = vantrel.File("touch.capture");
  Outcome slow = Touch("rate", {"touch line 0 200 200 2000 1200 1500"},
                       {"--junit", junit, "--record", record, "--serial", "SN-T1"});
  EXPECT_EQ(slow.code, 1) << slow.out << slow.err;
  EXPECT_NEAR(CsvValue(Slurp(csv), "rate"), 70, 7);
  // One suite for the test, one case for the stroke, failed.
  const std::string xml = Slurp(junit);
  EXPECT_NE(xml.find("<testsuite name=\"rate\" tests=\"1\" failures=\"1\" errors=\"0\""),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<testcase classname=\"vantrel.rate\" name=\"stroke 1 (contact 0)\""),
            std::string::npos)
      << xml;
  EXPECT_EQ(JUnitProblems(junit), "");

  // The same session against a 60 Hz limit: it passes, with the same rate.
  std::ofstream(limits, std::ios::app) << "rate_min_hz = 60\n";
  Vantrel offline(sim);
  Outcome again = offline({"touch", "rate", "--replay", record, "--limits", limits, "--csv", csv});
  EXPECT_EQ(again.code, 0) << again.out << again.err;
  std::string result;
  EXPECT_NEAR(CsvValue(Slurp(csv), "rate", &result), 70, 7);
  EXPECT_EQ(result, "pass");

  // The live run is in the unit's records with its values; the capture scored again is no
  // new run.
  Outcome history = offline({"results", "show", "SN-T1"});
  EXPECT_EQ(history.code, 0) << history.err;
  EXPECT_NE(history.out.find("1 run(s)"), std::string::npos) << history.out;
  EXPECT_NE(history.out.find("touch  fail (1 failed)"), std::string::npos) << history.out;
  EXPECT_NE(history.out.find("FAIL rate stroke 1 (contact 0) rate = "), std::string::npos)
      << history.out;
}

TEST_F(VantrelTouch, WhatCannotRunSaysWhy) {
  // No panel size: the millimetre tests cannot run, and the report says so.
  std::ofstream(limits) << "[touch]\njitter_max_mm = 1\n";
  Outcome noMm = vantrel({"touch", "jitter", "--limits", limits, "--junit", junit});
  EXPECT_EQ(noMm.code, 2);
  EXPECT_NE(noMm.out.find("NOT MEASURED: needs the panel size"), std::string::npos) << noMm.out;
  EXPECT_NE(Slurp(junit).find("errors=\"1\""), std::string::npos);
  EXPECT_EQ(JUnitProblems(junit), "");
  // A report that cannot be written is found before anyone is asked to touch.
  Outcome badReport = vantrel({"touch", "rate", "--junit", "/nonexistent/touch.xml"});
  EXPECT_EQ(badReport.code, 2);
  EXPECT_NE(badReport.err.find("cannot write /nonexistent/touch.xml"), std::string::npos)
      << badReport.err;
  EXPECT_EQ(badReport.err.find("Draw a few strokes"), std::string::npos) << badReport.err;
  EXPECT_EQ(vantrel({"touch", "accuracy"}).code, 2);  // no --truth
  EXPECT_EQ(vantrel({"touch", "wobble"}).code, 2);
  // Nobody touches: the wait for the first touch ends.
  Outcome idle = vantrel({"touch", "rate", "--wait", "0.5"});
  EXPECT_EQ(idle.code, 2);
  EXPECT_NE(idle.out.find("no touch within 0.5 s"), std::string::npos) << idle.out;
  // Nobody says the noise source is on: that window is not run, and the run is no pass.
  int in = -1;
  const pid_t pid = vantrel.Start({"touch", "ghost", "--seconds", "0.3"}, nullptr, &in);
  ::close(in);
  Outcome unconfirmed = vantrel.Finish(pid);
  EXPECT_EQ(unconfirmed.code, 2);
  EXPECT_NE(unconfirmed.out.find("ghost-noise: NOT MEASURED: the noise source was not confirmed"),
            std::string::npos)
      << unconfirmed.out;
  // The controller pulled out during the no-touch window: no reports is not no ghosts, and
  // nobody is asked for the noise source of a controller that is gone.
  int keyboard = -1;
  const pid_t gone = vantrel.Start({"touch", "ghost", "--seconds", "3"}, nullptr, &keyboard);
  EXPECT_TRUE(WaitUntil([&] {
    return Slurp(vantrel.File("err.txt")).find("Nothing on the glass") != std::string::npos;
  }));
  EXPECT_TRUE(sim.Ok("unplug"));
  Outcome unplugged = vantrel.Finish(gone, 10000);
  ::close(keyboard);
  EXPECT_TRUE(sim.Ok("plug"));
  EXPECT_EQ(unplugged.code, 2) << unplugged.out << unplugged.err;
  EXPECT_NE(unplugged.out.find("ghost: NOT MEASURED: the controller went away"), std::string::npos)
      << unplugged.out;
  EXPECT_NE(unplugged.out.find("ghost-noise: NOT MEASURED: the controller went away"),
            std::string::npos)
      << unplugged.out;
  EXPECT_EQ(unplugged.err.find("press Enter"), std::string::npos) << unplugged.err;
}

TEST_F(VantrelTouch, GhostsUnderRaisedNoiseFailTheNoiseWindowAlone) {
  Outcome clean = Ghost();
  EXPECT_EQ(clean.code, 0) << clean.out << clean.err;
  EXPECT_EQ(SuiteFailures(Slurp(junit), "ghost"), 0);
  EXPECT_EQ(SuiteFailures(Slurp(junit), "ghost-noise"), 0);
  EXPECT_NE(clean.err.find("Switch the noise source off."), std::string::npos) << clean.err;
  EXPECT_NE(clean.err.find("Nothing on the glass for 1.5 s."), std::string::npos) << clean.err;
  EXPECT_EQ(JUnitProblems(junit), "");

  // A panel that the noise source upsets: ghosts in the noise window only.
  ASSERT_TRUE(sim.Ok("touch-fault noise-ghost 1"));
  const std::string record = vantrel.File("ghost.capture");
  Outcome upset = Ghost({"--record", record, "--csv", csv});
  EXPECT_EQ(upset.code, 1) << upset.out << upset.err;
  EXPECT_EQ(SuiteFailures(Slurp(junit), "ghost"), 0) << Slurp(junit);
  EXPECT_GT(SuiteFailures(Slurp(junit), "ghost-noise"), 0) << Slurp(junit);
  EXPECT_EQ(JUnitProblems(junit), "");
  EXPECT_NE(Slurp(csv).find("ghost-noise,window: ghost contacts,"), std::string::npos);

  // The capture scored again gives the same verdicts, window by window.
  Outcome again = vantrel({"touch", "ghost", "--replay", record, "--junit", junit});
  EXPECT_EQ(again.code, 1) << again.out << again.err;
  EXPECT_EQ(SuiteFailures(Slurp(junit), "ghost"), 0) << Slurp(junit);
  EXPECT_GT(SuiteFailures(Slurp(junit), "ghost-noise"), 0) << Slurp(junit);
  Outcome quietOnly = vantrel({"touch", "ghost", "--replay", record, "--no-noise"});
  EXPECT_EQ(quietOnly.code, 0) << quietOnly.out << quietOnly.err;
}

namespace {

// The capture with its touch reports (D>H 024D...) moved to base + at(k) for the k-th one;
// other frames keep their times, never before the line above.
void Retime(const std::string& in, const std::string& out,
            const std::function<int64_t(int)>& at) {
  std::istringstream lines(Slurp(in));
  std::ofstream o(out, std::ios::binary);
  int64_t base = -1, last = 0;
  int k = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') {
      o << line << "\n";
      continue;
    }
    std::istringstream f(line);
    int64_t us = 0;
    std::string dir, len, hex;
    f >> us >> dir >> len >> hex;
    if (dir == "D>H" && hex.rfind("024D", 0) == 0) {
      if (base < 0) base = us;
      us = base + at(k++);
    }
    last = std::max(last, us);
    o << last << " " << dir << " " << len << " " << hex << "\n";
  }
}

}  // namespace

TEST_F(VantrelTouch, VerdictsTakeTheMeasuredValueAndBurstsStillShowAGap) {
  ASSERT_TRUE(sim.Ok("touch-rate 70"));
  const std::string record = vantrel.File("stroke.capture");
  Outcome live = Touch("rate", {"touch line 0 200 200 2000 1200 1500"},
                       {"--record", record, "--results", "none"});
  ASSERT_EQ(live.code, 1) << live.out << live.err;
  std::ofstream(limits, std::ios::app) << "[touch]\nrate_min_hz = 70\n";
  auto score = [&](const std::string& capture) {
    Outcome r = vantrel({"touch", "rate", "--replay", capture, "--limits", limits, "--csv", csv});
    EXPECT_NE(r.code, 2) << r.out << r.err;
  };
  // 69.96 Hz is shown as 70.0 Hz, and is below 70.
  const std::string slow = vantrel.File("slow.capture");
  Retime(record, slow, [](int k) { return int64_t{k} * 14294; });
  score(slow);
  std::string result;
  EXPECT_NEAR(CsvValue(Slurp(csv), "rate", &result), 70.0, 0.01);
  EXPECT_EQ(result, "fail");
  // Reports in threes with equal times, and a pause of 40 periods halfway.
  const std::string bursts = vantrel.File("bursts.capture");
  Retime(record, bursts, [](int k) { return int64_t{k / 3} * 3 * 14286 + (k >= 50 ? 40 * 14286 : 0); });
  score(bursts);
  EXPECT_GT(CsvValue(Slurp(csv), "longest gap", &result), 3);
  EXPECT_EQ(result, "fail");
}

TEST_F(VantrelTouch, ARunThatEndsEarlyReplacesTheLastReportAndIsKeptAsNotMeasured) {
  auto stale = [&] {
    std::ofstream(junit) << "<testsuites name=\"stale\" tests=\"1\"/>";
    std::ofstream(csv) << "stale\r\n";
  };
  auto expectReplaced = [&](const Outcome& r, const char* what) {
    EXPECT_EQ(Slurp(junit).find("stale"), std::string::npos) << what;
    EXPECT_NE(Slurp(junit).find("<error"), std::string::npos) << what << Slurp(junit);
    EXPECT_EQ(JUnitProblems(junit), "") << what;
    EXPECT_EQ(Slurp(csv).find("stale"), std::string::npos) << what;
    EXPECT_NE(r.out.find("NOT RUN"), std::string::npos) << what << r.out;
  };
  // Ctrl+C while waiting for the first touch.
  stale();
  const pid_t pid = vantrel.Start(
      {"touch", "rate", "--junit", junit, "--csv", csv, "--serial", "SN-INT"});
  ASSERT_TRUE(WaitUntil([&] {
    return Slurp(vantrel.File("err.txt")).find("Draw") != std::string::npos;
  })) << Slurp(vantrel.File("err.txt"));
  ::kill(pid, SIGINT);
  Outcome interrupted = vantrel.Finish(pid);
  EXPECT_EQ(interrupted.code, 130) << interrupted.out << interrupted.err;
  expectReplaced(interrupted, "interrupted");
  Outcome history = vantrel({"results", "show", "SN-INT"});
  EXPECT_NE(history.out.find("touch  error"), std::string::npos) << history.out << history.err;
  EXPECT_NE(history.out.find("note: rate: interrupted"), std::string::npos) << history.out;

  // No controller.
  ASSERT_TRUE(sim.Ok("unplug"));
  stale();
  Outcome none = vantrel({"touch", "rate", "--junit", junit, "--csv", csv});
  EXPECT_EQ(none.code, 2) << none.out << none.err;
  expectReplaced(none, "no controller");
  ASSERT_TRUE(sim.Ok("plug"));

  // A capture that cannot be scored.
  stale();
  Outcome bad = vantrel({"touch", "rate", "--replay", vantrel.File("none.capture"), "--junit",
                         junit, "--csv", csv});
  EXPECT_EQ(bad.code, 2) << bad.out << bad.err;
  expectReplaced(bad, "no capture");
}

TEST_F(VantrelTouch, ACaptureTooLongForATouchTestIsRefusedWithoutLoadingIt) {
  const std::string big = vantrel.File("big.capture");
  {
    std::ofstream o(big, std::ios::binary);
    o << "# vantrel-capture 1\n# link: usb vid=227D pid=0102 iface=1 ostype=2\n"
         "# panel: x=38 y=22 resolution=64 xrange=2432 yrange=1408\n";
    for (long k = 0; k <= 500000; ++k) o << k * 4000 << " D>H 10 024D07010700D900D200\n";
  }
  Outcome r = vantrel({"touch", "rate", "--replay", big, "--junit", junit});
  EXPECT_EQ(r.code, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("not a touch test session"), std::string::npos) << r.err;
  EXPECT_NE(Slurp(junit).find("<error"), std::string::npos);
}
