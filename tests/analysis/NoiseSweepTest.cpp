// The noise sweep's figures: its frequencies, the [noise] limits, the checks of a point
// and the sweep file a sweep resumes from.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "analysis/Limits.h"
#include "analysis/NoiseSweep.h"
#include "analysis/NoiseSweepPage.h"
#include "analysis/SweepPoints.h"

using namespace analysis;

TEST(NoiseSweep, FrequenciesLinearLogAndByStep) {
  std::vector<double> f;
  std::string why;
  ASSERT_TRUE(SweepFrequencies({0, 1e6, 0, 400, false}, f, why) == false);
  ASSERT_TRUE(SweepFrequencies({400, 1e6, 0, 400, false}, f, why)) << why;
  EXPECT_EQ(f.size(), 2500u);  // 400 Hz steps to 1 MHz
  EXPECT_DOUBLE_EQ(f.back(), 1e6);
  ASSERT_TRUE(SweepFrequencies({150e3, 80e6, 5, 0, true}, f, why)) << why;
  ASSERT_EQ(f.size(), 5u);
  EXPECT_DOUBLE_EQ(f.front(), 150e3);
  EXPECT_DOUBLE_EQ(f.back(), 80e6);
  EXPECT_NEAR(f[2], std::sqrt(150e3 * 80e6), 1e-3);  // the middle, geometrically
  EXPECT_FALSE(SweepFrequencies({1e3, 1e6, 0, 10, true}, f, why));
  EXPECT_FALSE(SweepFrequencies({2e6, 1e6, 10, 0, false}, f, why));
  EXPECT_EQ(FrequencyText(400), "400 Hz");
  EXPECT_EQ(FrequencyText(150e3), "150 kHz");
  EXPECT_EQ(FrequencyText(1.5e6), "1.5 MHz");
}

TEST(NoiseSweep, NoiseLimitsAreReadAndCheckedWithTheirPlace) {
  Limits l;
  LimitsError err;
  ASSERT_TRUE(ParseLimits("[noise]\nghost_max = 1\nsnr_min_db = 20\nstddev_max = 6.5\n", "n.toml",
                          l, err))
      << err.Text();
  EXPECT_EQ(l.noise.ghostMax, 1);
  EXPECT_EQ(l.noise.snrMinDb, 20);
  EXPECT_EQ(l.noise.stddevMax, 6.5);
  EXPECT_EQ(l.noise.jitterMaxMm, 0.5) << "a key not given keeps its default";
  EXPECT_FALSE(l.noise.p2pMax);
  EXPECT_FALSE(ParseLimits("[noise]\nghost_max = 0\njitter_mm = 1\n", "n.toml", l, err));
  EXPECT_EQ(err.Text().substr(0, 26), "n.toml:3:1: noise.jitter_m");
  EXPECT_NE(err.message.find("snr_min_db"), std::string::npos) << err.message;
  EXPECT_FALSE(ParseLimits("[noise]\nstddev_max = -1\n", "n.toml", l, err));
  EXPECT_EQ(err.key, "noise.stddev_max");
}

TEST(NoiseSweep, PointChecksAndTheSweepFileReadBack) {
  const ScanLayout layout{2, 1};
  NoisePoint p;
  p.hz = 187382.6;
  p.electrodes = {{1.5, 6, 30.0}, {9.25, 40, std::nullopt}, {2, 7, 12.5}};
  p.ghosts = 1;
  p.jitterMm = 0.25;
  p.rateHz = 100;
  p.scans = 14;
  NoiseLimits limits;
  limits.stddevMax = 8;
  const auto checks = CheckPoint(p, layout, limits, true);
  std::vector<std::string> failed;
  for (const auto& c : checks)
    if (!c.pass) failed.push_back(c.Title() + " " + c.Shown() + " " + c.Limit());
  EXPECT_EQ(failed, (std::vector<std::string>{"ghosts 1 <= 0", "X1 stddev 9.25 <= 8",
                                               "Y0 snr 12.5 dB >= 14 dB"}));
  EXPECT_EQ(checks.front().group, "187.383 kHz");

  const SweepSettings s{"square", 10, "held"};
  std::ostringstream out;
  WriteSweepHeader(out);
  WriteSweepPoint(out, s, p, layout, checks);
  NoisePoint q = p;
  q.hz = 3e5;
  WriteSweepPoint(out, s, q, layout, CheckPoint(q, layout, limits, true));
  const std::string whole = out.str();
  // An unfinished last point (no "all" row yet) is left for the resumed sweep to redo.
  std::istringstream in(whole + whole.substr(whole.find("\r\n") + 2, 40) + "\r\n");
  std::vector<NoisePoint> back;
  uint64_t end = 0;
  std::string why;
  ASSERT_TRUE(ReadSweepFile(in, s, layout, back, end, why)) << why;
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(end, whole.size());
  EXPECT_EQ(back[0].hz, 187382.6);
  EXPECT_EQ(back[0].ghosts, 1);
  EXPECT_EQ(back[0].jitterMm, 0.25);
  EXPECT_EQ(back[0].electrodes[1].stddev, 9.25);
  EXPECT_FALSE(back[0].electrodes[1].snrDb);
  EXPECT_EQ(back[0].electrodes[2].snrDb, 12.5);
  // Another amplitude, another panel, not a sweep file: refused.
  std::istringstream again(whole);
  EXPECT_FALSE(ReadSweepFile(again, {"square", 5, "held"}, layout, back, end, why));
  std::istringstream bigger(whole);
  EXPECT_FALSE(ReadSweepFile(bigger, s, ScanLayout{3, 1}, back, end, why));
  std::istringstream other("time,value\r\n1,2\r\n");
  EXPECT_FALSE(ReadSweepFile(other, s, layout, back, end, why));
}

// The points kept on file come back exactly, in order, with their verdicts, however the
// passes over them nest; the failing bands are read from them.
TEST(NoiseSweep, KeptPointsReadBackExactlyInOrder) {
  SweepPoints kept;
  std::string why;
  ASSERT_TRUE(kept.Open(why)) << why;
  std::vector<NoisePoint> points(5);
  for (size_t i = 0; i < points.size(); ++i) {
    NoisePoint& p = points[i];
    p.hz = 1e4 * (i + 1) + 1.0 / 3;
    p.electrodes = {{0.1 * i + 1.0 / 7, 3.0 + i, std::nullopt}, {2.0 / 3, 1e-300, i * 1.1}};
    p.ghosts = static_cast<int>(i);
    if (i % 2) p.jitterMm = 0.123456789012345 * i;
    p.rateHz = 99.5 + i;
    p.scans = 1000000007ULL * i;
    ASSERT_TRUE(kept.Add(p, i != 1 && i != 2 && i != 4, why)) << why;
  }
  EXPECT_EQ(kept.Size(), 5u);
  EXPECT_EQ(kept.Failed(), 3u);
  auto same = [](const NoisePoint& a, const NoisePoint& b) {
    bool eq = a.hz == b.hz && a.ghosts == b.ghosts && a.jitterMm == b.jitterMm &&
              a.rateHz == b.rateHz && a.scans == b.scans &&
              a.electrodes.size() == b.electrodes.size();
    for (size_t e = 0; eq && e < a.electrodes.size(); ++e)
      eq = a.electrodes[e].stddev == b.electrodes[e].stddev &&
           a.electrodes[e].p2p == b.electrodes[e].p2p &&
           a.electrodes[e].snrDb == b.electrodes[e].snrDb;
    return eq;
  };
  size_t outer = 0, inner = 0;
  ASSERT_TRUE(kept.ForEach([&](const NoisePoint& p, bool) {
    EXPECT_TRUE(same(p, points[outer])) << "point " << outer;
    if (outer++ == 2) {
      EXPECT_TRUE(
          kept.ForEach([&](const NoisePoint& q, bool) { EXPECT_TRUE(same(q, points[inner++])); }));
    }
  }));
  EXPECT_EQ(outer, 5u);
  EXPECT_EQ(inner, 5u);
  const auto bands = FailingBands(kept);
  ASSERT_EQ(bands.size(), 2u);
  EXPECT_EQ(bands[0], std::make_pair(points[1].hz, points[2].hz));
  EXPECT_EQ(bands[1], std::make_pair(points[4].hz, points[4].hz));
}
