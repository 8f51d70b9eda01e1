// The self test as a production line runs it: a bad limits file, a panel that does not
// match, a controller that says too little or goes away, never end in a pass; every run
// given a report path leaves a valid report there; every way out leaves the controller
// as it was found.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/JUnitSchema.h"
#include "cli/VantrelRun.h"

namespace {

// Every <testsuite> of a report carries its time, a timestamp and the host's name.
void ExpectSuiteAttributes(const std::string& xml) {
  size_t suites = 0;
  for (size_t at = xml.find("<testsuite "); at != std::string::npos;
       at = xml.find("<testsuite ", at + 1)) {
    const std::string tag = xml.substr(at, xml.find('>', at) - at);
    EXPECT_NE(tag.find(" timestamp=\""), std::string::npos) << tag;
    EXPECT_NE(tag.find(" hostname=\""), std::string::npos) << tag;
    EXPECT_NE(tag.find(" time=\""), std::string::npos) << tag;
    ++suites;
  }
  EXPECT_GT(suites, 0u) << xml;
}

constexpr const char* kGood =
    "[streams.m0-raw]\nscans = 3\n"
    "limits = [{ electrodes = \"all\", mean_min = 900, mean_max = 1100, p2p_max = 60 }]\n";

class SelfTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.Start({"--usb", "--rate", "4000"})); }
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = vantrel.File(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  SimProcess sim;
  Vantrel vantrel{sim};
};

}  // namespace

TEST_F(SelfTest, EveryBadFileIsRefusedWithItsPlaceAndAnErrorReport) {
  struct Case {
    std::string text, where;
  };
  const std::string all = "[streams.m0-raw]\nscans = 3\nlimits = [{ electrodes = \"all\", ";
  const std::vector<Case> cases{
      {"[streams.m0-raw]\nscans = 3\nlimits = [{ electrodes = \"X-100000\", p2p_max = 50 }]\n",
       "bad.toml:3:"},
      {all + "p2p_max = 50 },\n  { electrodes = \"Y-3\", p2p_max = 9 }]\n", "bad.toml:4:"},
      {"", "bad.toml: "},
      {"# only a comment\n\n", "bad.toml: "},
      {"[panel]\nx_count = 38\ny_count = 22\n", "bad.toml: "},
      {"[streams.m0-raw]\nscans = 3\nlimits = []\n", "bad.toml:1:"},
      {"[streams.m0-raw]\nscans = 3\n", "bad.toml:1:"},
      {all + "}]\n", "bad.toml:3:"},
      {"[streams.m0-raw]\nlimits = [{ electrodes = \"X0-X10\", p2p_max = 50 }]\n", "bad.toml:1:"},
      {all + "p2p_max = 9007199254740993 }]\n", "bad.toml:3:"},
      {all + "mean_min = nan }]\n", "bad.toml:3:"},
      {all + "p2p_max = inf }]\n", "bad.toml:3:"},
      {all + "mean_min = -inf }]\n", "bad.toml:3:"},
      {"[firmware]\nversion_pattern = \"TPCSIM [1\"\n" + std::string(kGood), "bad.toml:2:"},
      // Files that would pass a panel with an open and a shorted electrode.
      {"[panel]\nunused = [\"X0-X37\", \"Y0-Y21\"]\n" + std::string(kGood), "checks nothing"},
      {"[panel]\nunused = [\"all\"]\n[streams.open-short]\nscans = 2\n", "checks nothing"},
      {"partial = true\n[panel]\nunused = \"X3\"\n[streams.m0-raw]\nscans = 3\n"
       "limits = [{ electrodes = \"X3\", p2p_max = 60 }]\n",
       "checks nothing"},
      {all + "p2p_max = 1e19 }]\n", "bad.toml:3:"},
      {all + "mean_max = 1e308 }]\n", "bad.toml:3:"},
      {"[streams.open-short]\nscans = 2\nopen_below = -1\n", "bad.toml:3:"},
      {"[streams.open-short]\nscans = 2\nshort_above = 1e15\n", "bad.toml:3:"},
      {"[streams.m0-raw]\nscans = 1\nlimits = [{ electrodes = \"all\", stddev_max = 8 }]\n",
       "bad.toml:2:"},
      {"# " + std::string(5 << 20, 'x') + "\n" + kGood, "larger than"},
  };
  const std::string junit = vantrel.File("report.xml");
  auto expectRefused = [&](const std::string& limits, const std::string& where,
                           const std::string& what) {
    std::ofstream(junit) << "<testsuites name=\"stale\" tests=\"1\"/>";
    Outcome r = vantrel({"test", "--limits", limits, "--junit", junit});
    EXPECT_EQ(r.code, 2) << what << "\n" << r.out << r.err;
    EXPECT_EQ(r.out.find("PASS"), std::string::npos) << what << "\n" << r.out;
    EXPECT_NE(r.err.find(where), std::string::npos) << what << "\n" << r.err;
    const std::string xml = Slurp(junit);
    EXPECT_EQ(xml.find("stale"), std::string::npos) << what;
    EXPECT_NE(xml.find("<error "), std::string::npos) << what << "\n" << xml;
    EXPECT_EQ(JUnitProblems(junit), "") << what;
  };
  for (const Case& c : cases) expectRefused(Write("bad.toml", c.text), c.where, c.text);
  expectRefused("/dev/null", "/dev/null: ", "/dev/null");
  expectRefused(sim.Dir(), sim.Dir() + ": ", "a directory");
  expectRefused("/dev/zero", "/dev/zero: ", "an endless device");
  ExpectLeftAsFound(sim);

  // Noise checks over one scan, the count coming from the command line.
  Outcome one = vantrel({"test", "--scans", "1", "--limits",
                         Write("noise.toml", "[streams.m0-raw]\nlimits = [{ electrodes = "
                                             "\"all\", p2p_max = 60 }]\n")});
  EXPECT_EQ(one.code, 2) << one.out << one.err;
  EXPECT_NE(one.err.find("at least 2 scans"), std::string::npos) << one.err;

  // A partial test said to be one runs.
  Outcome partial =
      vantrel({"test", "--limits",
               Write("part.toml", "partial = true\n" +
                                      std::string("[streams.m0-raw]\nscans = 3\nlimits = [{ "
                                                  "electrodes = \"X0-X10\", p2p_max = 60 }]\n"))});
  EXPECT_EQ(partial.code, 0) << partial.out << partial.err;
}

TEST_F(SelfTest, APanelOfOtherCountsOrWithoutInformationFails) {
  SimProcess small;
  ASSERT_TRUE(small.Start({"--usb", "--rate", "4000", "--x-count", "30"}));
  Vantrel onSmall(small);
  const std::string limits =
      Write("l.toml", "[panel]\nx_count = 38\ny_count = 22\n" + std::string(kGood) +
                          "[streams.open-short-x]\nscans = 2\n");
  const std::string junit = vantrel.File("r.xml"), csv = vantrel.File("r.csv");
  Outcome r = onSmall({"test", "--limits", limits, "--junit", junit, "--csv", csv});
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("FAIL x_count"), std::string::npos) << r.out;
  EXPECT_NE(Slurp(csv).find("panel,x_count,,30,= 38,fail"), std::string::npos) << Slurp(csv);
  EXPECT_EQ(JUnitProblems(junit), "");
  EXPECT_NE(Slurp(junit).find("<failure"), std::string::npos);
  ExpectLeftAsFound(small);

  // No panel information, no version text: info cannot run, the test fails.
  for (const char* sub : {"06", "04"}) {
    ASSERT_TRUE(sim.Ok(std::string("nak ") + sub));
    Outcome info = vantrel({"info", "--json"});
    EXPECT_EQ(info.code, 2) << sub << "\n" << info.out << info.err;
    EXPECT_EQ(info.out.find('\0'), std::string::npos);
    const std::string firmware = std::string(sub) == "04" ? "[firmware]\nversion = \"\"\n" : "";
    // m1x-raw: its stream command is none of the refused sub-commands.
    const std::string limits =
        firmware +
        "[streams.m1x-raw]\nscans = 3\nlimits = [{ electrodes = \"X\", p2p_max = 60 }]\n";
    Outcome test =
        vantrel({"test", "--limits", Write("n.toml", limits), "--junit", junit, "--csv", csv});
    EXPECT_EQ(test.code, 1) << sub << "\n" << test.out << test.err;
    EXPECT_EQ(Slurp(csv).find('\0'), std::string::npos);
    EXPECT_EQ(JUnitProblems(junit), "");
    ExpectLeftAsFound(sim);
  }
}

TEST_F(SelfTest, ARunThatCannotStartReplacesTheLastReport) {
  const std::string limits = Write("l.toml", kGood);
  // An output that cannot be written is found before anything is measured.
  const size_t sent = sim.TraceFrames("H>D").size();
  Outcome nowhere = vantrel({"test", "--limits", limits, "--junit", "/nonexistent/r.xml"});
  EXPECT_EQ(nowhere.code, 2);
  // Said once, not once by the check and again by the report writer.
  const size_t said = nowhere.err.find("cannot write /nonexistent/r.xml");
  EXPECT_NE(said, std::string::npos) << nowhere.err;
  EXPECT_EQ(nowhere.err.find("cannot write", said + 1), std::string::npos) << nowhere.err;
  EXPECT_EQ(sim.TraceFrames("H>D").size(), sent);

  const std::string junit = Write("r.xml", "<testsuites name=\"stale PASS\"/>");
  const std::string csv = Write("r.csv", "stale PASS\r\n");
  for (const char* fault : {"unplug", "silence on"}) {
    if (std::string(fault) == "silence on") {
      ASSERT_TRUE(sim.Ok("plug"));
    }
    ASSERT_TRUE(sim.Ok(fault));
    Outcome r = vantrel({"test", "--limits", limits, "--junit", junit, "--csv", csv}, 15000);
    EXPECT_EQ(r.code, 2) << fault;
    const std::string xml = Slurp(junit);
    EXPECT_EQ(xml.find("stale"), std::string::npos) << fault;
    EXPECT_NE(xml.find("<error "), std::string::npos) << fault << "\n" << xml;
    EXPECT_EQ(JUnitProblems(junit), "") << fault;
    EXPECT_EQ(Slurp(csv).find("stale"), std::string::npos) << fault;
    EXPECT_NE(Slurp(csv).find(",error"), std::string::npos) << Slurp(csv);
  }
}

TEST_F(SelfTest, TheReportIsValidWhateverTheFirmwareSays) {
  ASSERT_TRUE(sim.Ok("version-text TPC\xff\xfe\x01 1.0"));
  const std::string junit = vantrel.File("r.xml");
  Outcome r =
      vantrel({"test", "--limits",
               Write("l.toml", "[firmware]\nversion = \"TPCSIM 1.0.0\"\n" + std::string(kGood)),
               "--junit", junit});
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  EXPECT_EQ(JUnitProblems(junit), "");
  ExpectSuiteAttributes(Slurp(junit));
}

// Reports the controller cuts short on USB (one frame in fifty) are left out and said so,
// never read as electrode values: a good panel passes.
TEST_F(SelfTest, ReportsCutShortAreNotTakenForElectrodeValues) {
  ASSERT_TRUE(sim.Ok("truncate 50"));
  const std::string limits =
      Write("l.toml", "[streams.m0-raw]\nscans = 40\n"
                      "limits = [{ electrodes = \"all\", mean_min = 900, mean_max = 1100, "
                      "p2p_max = 60 }]\n");
  Outcome r = vantrel({"test", "--limits", limits});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("truncated frame(s) left out"), std::string::npos) << r.err;
  ExpectLeftAsFound(sim);
}

// An answer to the opening queries, or to a stream's start, that arrives cut short is asked
// for again (the fifth frame is the start's acknowledgement).
TEST_F(SelfTest, AnswersCutShortAreAskedForAgain) {
  ASSERT_TRUE(sim.Ok("truncate 2"));
  Outcome r = vantrel({"info"});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("TPCSIM 1.0.0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("38 x 22 electrodes"), std::string::npos) << r.out;

  SimProcess fresh;
  ASSERT_TRUE(fresh.Start({"--usb", "--rate", "4000"}));
  ASSERT_TRUE(fresh.Ok("truncate 5"));
  Vantrel onFresh(fresh);
  Outcome t = onFresh({"test", "--limits", Write("l.toml", kGood)});
  EXPECT_EQ(t.code, 0) << t.out << t.err;
  ExpectLeftAsFound(fresh);
}

TEST_F(SelfTest, EveryWayOutLeavesTheControllerAsFound) {
  // The reader of standard output goes away (a pipe into head).
  int fd = -1;
  pid_t pid = vantrel.Start({"capture", "m0-raw", "--scans", "100000"}, &fd);
  ASSERT_GE(fd, 0);
  std::string got;
  char c;
  while (std::count(got.begin(), got.end(), '\n') < 2 && ::read(fd, &c, 1) == 1) got += c;
  ::close(fd);
  Outcome piped = vantrel.Finish(pid);
  EXPECT_NE(piped.code, -2);
  ExpectLeftAsFound(sim);

  // The terminal closes.
  const std::string csv = vantrel.File("long.csv");
  pid = vantrel.Start({"capture", "m0-raw", "--scans", "1000000", "--csv", csv});
  ASSERT_TRUE(
      WaitUntil([&] { return sim.Command("status").find("target=1") != std::string::npos; }));
  ASSERT_TRUE(
      WaitUntil([&] { return sim.Command("status").find("stream=00") != std::string::npos; }));
  ::kill(pid, SIGHUP);
  Outcome hup = vantrel.Finish(pid);
  EXPECT_NE(hup.code, -2);
  ExpectLeftAsFound(sim);
}

TEST_F(SelfTest, ACaptureThatCannotStartKeepsTheOldFile) {
  const std::string csv = Write("old.csv", "old scans\r\n");
  ASSERT_TRUE(sim.Ok("unplug"));
  Outcome r = vantrel({"capture", "m0-raw", "--scans", "3", "--csv", csv});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(Slurp(csv), "old scans\r\n");
  for (const auto& e : std::filesystem::directory_iterator(sim.Dir()))
    EXPECT_EQ(e.path().filename().string().rfind("old.csv.", 0), std::string::npos) << e.path();
}

TEST_F(SelfTest, MistakesOnTheCommandLineAreNamed) {
  Outcome typo = vantrel({"tset"});
  EXPECT_EQ(typo.code, 2);
  EXPECT_NE(typo.err.find("unknown subcommand \"tset\""), std::string::npos) << typo.err;
  Outcome hex = vantrel({"send", "SEND ZZ"});
  EXPECT_EQ(hex.code, 2);
  EXPECT_NE(hex.err.find("bad hex"), std::string::npos) << hex.err;

  Vantrel plain(sim);
  plain.NoLinkOptions();
  for (const std::string& config : {std::string("/nonexistent/ZUZIvor.ini"), sim.Dir()}) {
    Outcome r = plain({"--config", config, "info"});
    EXPECT_EQ(r.code, 2) << config;
    EXPECT_NE(r.err.find("--config"), std::string::npos) << r.err;
  }
  const std::string ini = Write("ZUZIvor.ini", "[HID]\r\nVID1=0x227D\r\nPID1=258\r\n");
  Outcome hexVid = plain({"--config", ini, "info"});
  EXPECT_EQ(hexVid.code, 2);
  EXPECT_NE(hexVid.err.find("VID1"), std::string::npos) << hexVid.err;
}

// Standard output that nobody reads while the controller streams as fast as it can: the
// frames that do not fit are dropped and counted, memory does not grow with them.
TEST_F(SelfTest, AStalledReaderCostsNoMemory) {
#ifdef VT_SANITIZED
  GTEST_SKIP() << "a sanitizer's own allocator keeps freed memory: its figures say nothing here";
#endif
  ASSERT_TRUE(sim.Ok("rate max"));
  auto sent = [&] {
    const std::string s = sim.Command("stats");
    const size_t at = s.find(" data=");
    return at == std::string::npos ? 0ul : std::stoul(s.substr(at + 6));
  };
  int fd = -1;
  const pid_t pid = vantrel.Start({"capture", "m0-raw", "--scans", "10000000"}, &fd);
  ASSERT_GE(fd, 0);
  auto residentKb = [&] {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1l;
  };
  // Once the queue is full (well within the first frames), memory stays where it is.
  ASSERT_TRUE(WaitUntil([&] { return sent() > 0; }));
  const unsigned long start = sent();
  ASSERT_TRUE(WaitUntil([&] { return sent() > start + 200000; }, 120000));
  const long before = residentKb();
  ASSERT_TRUE(WaitUntil([&] { return sent() > start + 1200000; }, 240000));
  const long after = residentKb();
  EXPECT_GT(before, 0);
  EXPECT_LT(after - before, 10 * 1024) << "kB more after another million frames nobody read";
  ::close(fd);
  Outcome r = vantrel.Finish(pid);
  EXPECT_NE(r.err.find("dropped"), std::string::npos) << r.err;
  ExpectLeftAsFound(sim);
}

TEST_F(SelfTest, NamePatternsKeepEachRunsFilesAndAKeptCaptureIsNeverReplaced) {
  const std::string limits = Write("good.toml", kGood);
  Outcome r = vantrel({"test", "--limits", limits, "--serial", "SN/1", "--station", "L 2",
                       "--record", vantrel.File("{serial}-{run}.capture"), "--junit",
                       vantrel.File("{station}-{serial}-{time}.xml")});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  std::string capture, junit;
  for (const auto& e : std::filesystem::directory_iterator(sim.Dir())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("SN_1-", 0) == 0 && name.find(".capture") != std::string::npos)
      capture = e.path().string();
    if (name.rfind("L_2-SN_1-", 0) == 0 && name.size() == 9 + 16 + 4) junit = e.path().string();
  }
  ASSERT_NE(capture, "");
  EXPECT_NE(junit, "");
  Outcome shown = vantrel({"results", "show", "SN/1"});
  const size_t run = shown.out.find("  run ");
  ASSERT_NE(run, std::string::npos) << shown.out;
  EXPECT_NE(capture.find(shown.out.substr(run + 6, 36)), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("capture " + capture), std::string::npos) << shown.out;

  // A fixed name: the second run refuses to replace the first run's capture.
  const std::string fixed = vantrel.File("last.capture");
  ASSERT_EQ(vantrel({"test", "--limits", limits, "--record", fixed}).code, 0);
  const std::string kept = Slurp(fixed);
  Outcome again = vantrel({"test", "--limits", limits, "--record", fixed});
  EXPECT_EQ(again.code, 2) << again.out << again.err;
  EXPECT_NE(again.err.find("a kept run may refer to it"), std::string::npos) << again.err;
  EXPECT_EQ(Slurp(fixed), kept);

  Outcome typo = vantrel({"test", "--limits", limits, "--junit", vantrel.File("{serail}.xml")});
  EXPECT_EQ(typo.code, 2);
  EXPECT_NE(typo.err.find("unknown name field {serail}"), std::string::npos) << typo.err;
}
