#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "analysis/Limits.h"
#include "analysis/LimitsCheck.h"
#include "analysis/LimitsLearn.h"

using namespace analysis;

namespace {
Limits Parse(const std::string& text) {
  Limits l;
  LimitsError err;
  EXPECT_TRUE(ParseLimits(text, "t.toml", l, err)) << err.Text();
  return l;
}
}  // namespace

TEST(Limits, RangesArraysAndLaterEntriesWinKeyByKey) {
  Limits l = Parse(R"(
[panel]
x_count = 38
y_count = 22
[firmware]
version_pattern = "TPC* 1.*"
[streams.m0-raw]
scans = 20
limits = [
  { electrodes = "all", mean_min = 900, mean_max = 1100, p2p_max = 30 },
  { electrodes = ["X3-5", "y21"], mean_min = 850.5 },
  { electrodes = "Y", stddev_max = 4 },
]
[streams.open-short]
open_below = 100
)");
  ASSERT_EQ(l.streams.size(), 2u);
  const StreamLimits& s = l.streams[0];
  EXPECT_EQ(s.scans, 20);
  ASSERT_EQ(s.perElectrode.size(), 60u);
  EXPECT_EQ(*s.perElectrode[2].meanMin, 900);
  EXPECT_EQ(*s.perElectrode[4].meanMin, 850.5);
  EXPECT_EQ(*s.perElectrode[4].meanMax, 1100);  // kept from the first entry
  EXPECT_FALSE(s.perElectrode[6].stddevMax);
  EXPECT_EQ(*s.perElectrode[38 + 21].meanMin, 850.5);
  EXPECT_EQ(*s.perElectrode[38 + 21].stddevMax, 4);
  EXPECT_EQ(*l.streams[1].openBelow, 100);

  std::vector<Check> checks;
  CheckController(l, ControllerFacts{38, 22, true, "TPCX 2.0", true}, checks);
  ASSERT_EQ(checks.size(), 3u);
  EXPECT_FALSE(checks[2].pass);
  checks.clear();
  CheckController(l, ControllerFacts{38, 22, true, "TPCSIM 1.0.0", true}, checks);
  EXPECT_TRUE(checks[2].pass);
}

TEST(Limits, BadFilesNameLineAndKey) {
  struct Case {
    const char* text;
    int line;
    const char* key;
  };
  const Case cases[] = {
      {"[panel]\nx_count = 38\nwidth = 3\n", 3, "panel.width"},
      {"[streams.m0-raw]\nscans = \"many\"\n", 2, "streams.m0-raw.scans"},
      {"[streams.m0-raw]\nlimits = [\n { electrodes = \"X1\", mean_max = 5, mean_min = 9 },\n]\n",
       3, "streams.m0-raw.limits[1].mean_min"},
      {"[streams.m0-raw]\nlimits = [{ electrodes = \"X1\", colour = 1 }]\n", 2,
       "streams.m0-raw.limits[1].colour"},
      {"[panel]\nx_count = 38\ny_count = 22\n[streams.m0-raw]\n\nlimits = [{ electrodes = "
       "\"X38\", p2p_max = 1 }]\n",
       6, "streams.m0-raw.limits[1].electrodes"},
      {"[streams.m0-raw]\nlimits = [{ electrodes = \"X9-X3\" }]\n", 2,
       "streams.m0-raw.limits[1].electrodes"},
      {"[streams.m9-raw]\n", 1, "streams.m9-raw"},
      {"[streams.m0-raw]\nopen_below = 3\n", 2, "streams.m0-raw.open_below"},
      {"[streams.m0-raw]\nlimits = [{ electrodes = \"X1\", p2p_max = -1 }]\n", 2,
       "streams.m0-raw.limits[1].p2p_max"},
      {"[streams.m0-raw\n", 1, ""},
      {"[streams.m0-raw]\nlimits = [{ electrodes = \"X-100000\", p2p_max = 1 }]\n", 2,
       "streams.m0-raw.limits[1].electrodes"},
      {"[streams.m0-raw]\nlimits = [{ electrodes = \"Y2--3\", p2p_max = 1 }]\n", 2,
       "streams.m0-raw.limits[1].electrodes"},
  };
  for (const Case& c : cases) {
    Limits l;
    LimitsError err;
    EXPECT_FALSE(ParseLimits(c.text, "bad.toml", l, err)) << c.text;
    EXPECT_EQ(err.pos.line, c.line) << err.Text();
    EXPECT_EQ(err.key, c.key) << err.Text();
    EXPECT_EQ(err.Text().rfind("bad.toml:" + std::to_string(c.line) + ":", 0), 0u) << err.Text();
  }
}

TEST(Limits, ElectrodesOutsideThePanelAreFoundWhenItIsKnown) {
  // Without [panel] the file loads; the panel found at test time decides.
  Limits l = Parse("[streams.m1y-raw]\nlimits = [{ electrodes = \"Y30\", p2p_max = 3 }]\n");
  LimitsError err;
  EXPECT_TRUE(ResolveLimits(l, 38, 40, err));
  EXPECT_FALSE(ResolveLimits(l, 38, 22, err));
  EXPECT_EQ(err.pos.line, 2);
  Limits x = Parse("[streams.m1y-raw]\nlimits = [{ electrodes = \"X1\", p2p_max = 3 }]\n");
  EXPECT_FALSE(ResolveLimits(x, 38, 22, err));  // the stream measures no X electrodes
}

TEST(Limits, LearntLimitsWriteReadBackAndCatchABadElectrode) {
  const StreamInfo& raw = *FindStream("m1x-raw");
  ElectrodeStats good(ScanLayout{4, 0}, raw.kind);
  for (int i = 0; i < 20; ++i)
    good.Add(std::vector<int32_t>{1000 + i % 3, 990, 1010, 1005 - i % 2});
  Limits learnt;
  learnt.xCount = 4;
  learnt.yCount = 2;
  learnt.version = "TPC \"quoted\" 1.0";
  learnt.streams.push_back(LearnStream(raw, good, 20, Margins{6, 2, 2}));
  std::ostringstream file;
  WriteLimits(learnt, "learnt\nfor the test", file);

  Limits back = Parse(file.str());
  ASSERT_EQ(back.streams.size(), 1u);
  EXPECT_EQ(*back.version, *learnt.version);
  const auto& a = learnt.streams[0].perElectrode;
  const auto& b = back.streams[0].perElectrode;
  ASSERT_EQ(b.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(*a[i].meanMin, *b[i].meanMin);
    EXPECT_EQ(*a[i].meanMax, *b[i].meanMax);
    EXPECT_EQ(*a[i].p2pMax, *b[i].p2pMax);
    EXPECT_EQ(*a[i].stddevMax, *b[i].stddevMax);
  }
  // A flat electrode still gets the floor's room.
  EXPECT_EQ(*b[1].meanMin, 988);
  EXPECT_EQ(*b[1].p2pMax, 2);

  std::vector<Check> checks;
  CheckStream(back.streams[0], good, checks);
  for (const auto& c : checks) EXPECT_TRUE(c.pass) << c.Title() << " " << c.Shown() << " " << c.Limit();

  ElectrodeStats bad(ScanLayout{4, 0}, raw.kind);
  for (int i = 0; i < 20; ++i) bad.Add(std::vector<int32_t>{1000, 990, i % 2 ? 1060 : 960, 1005});
  checks.clear();
  CheckStream(back.streams[0], bad, checks);
  std::vector<std::string> failed;
  for (const auto& c : checks)
    if (!c.pass) failed.push_back(c.Title());
  EXPECT_EQ(failed, (std::vector<std::string>{"X2 p2p", "X2 stddev"}));
}

// The views load baselines through the same resolution: a selector that is not from a
// file is refused as well, never written outside the panel.
TEST(Limits, NegativeElectrodesAreRefusedWhereverTheyComeFrom) {
  Limits l = Parse("[streams.m0-raw]\nlimits = [{ electrodes = \"all\", p2p_max = 1 }]\n");
  l.streams[0].entries[0].electrodes = {ElectrodeSelector{'Y', -3, -3}};
  LimitsError err;
  EXPECT_FALSE(ResolveLimits(l, 38, 22, err));
  l.streams[0].entries[0].electrodes = {ElectrodeSelector{'X', -100000, 2}};
  EXPECT_FALSE(ResolveLimits(l, 38, 22, err));
}

TEST(Limits, SmallNumbersAreShownAsNumbers) {
  EXPECT_EQ(FormatNumber(0.0001), "0");
  EXPECT_EQ(FormatNumber(-0.0004), "0");
  EXPECT_EQ(FormatNumber(-0.0), "0");
  EXPECT_EQ(FormatNumber(0.25), "0.25");
  EXPECT_EQ(FormatNumber(-1.5), "-1.5");
}

// A check holds its limits as numbers: the texts shown come from them, and what is kept of
// a shown text is only what no number holds (a version, a state).
TEST(Checks, LimitsAreNumbersAndTextsKeepOnlyWhatNumbersCannot) {
  Limits l;
  l.xCount = 38;
  l.version = "TPC 1.0";
  std::vector<Check> checks;
  CheckController(l, ControllerFacts{37, 22, true, "TPC 1.0", true}, checks);
  ASSERT_EQ(checks.size(), 2u);
  const Check& count = checks[0];
  EXPECT_FALSE(count.pass);
  EXPECT_EQ(count.Title(), "x_count");
  EXPECT_EQ(count.Shown() + " " + count.Limit(), "37 = 38");
  const Check keptCount = count.Kept();
  ASSERT_TRUE(keptCount.low && keptCount.high);
  EXPECT_EQ(*keptCount.low, 38);
  EXPECT_EQ(*keptCount.high, 38);
  EXPECT_EQ(keptCount.limitText, "");
  const Check keptVersion = checks[1].Kept();
  EXPECT_TRUE(keptVersion.pass);
  EXPECT_FALSE(keptVersion.value);
  EXPECT_EQ(keptVersion.text, "\"TPC 1.0\"");
  EXPECT_EQ(keptVersion.limitText, "= \"TPC 1.0\"");

  // An open electrode: its state shown, its mean and the open and short bounds kept.
  StreamLimits sl;
  sl.stream = FindStream("open-short");
  sl.layout = ScanLayout{2, 0};
  sl.perElectrode.resize(2);
  StatsOptions options;
  options.openBelow = 100;
  options.shortAbove = 5000;
  ElectrodeStats stats(sl.layout, sl.stream->kind, options);
  stats.Add(std::vector<int32_t>{12, 1000});
  checks.clear();
  CheckStream(sl, stats, checks);
  ASSERT_EQ(checks.size(), 2u);
  EXPECT_EQ(checks[0].Title() + ": " + checks[0].Shown() + ", " + checks[0].Limit(),
            "X0 open/short: open (mean 12), 100 .. 5000");
  EXPECT_FALSE(checks[0].pass);
  const Check kept = checks[0].Kept();
  EXPECT_EQ(kept.text, "");
  EXPECT_EQ(*kept.value, 12);
  EXPECT_EQ(kept.unit, "counts");
  EXPECT_TRUE(checks[1].pass);
}
