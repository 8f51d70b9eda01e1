// The line's statistics against published worked examples (each source beside its test)
// and the Western Electric rules and robust figures on series made to trip each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "analysis/Capability.h"
#include "analysis/ControlChart.h"
#include "analysis/GaugeStudy.h"
#include "analysis/LimitsRobust.h"
#include "analysis/RobustStats.h"

using namespace analysis;

// Cp and Cpk as defined in "Process Capability", NIST/SEMATECH e-Handbook of Statistical
// Methods, 6.1.6, https://www.itl.nist.gov/div898/handbook/pmc/section1/pmc16.htm; its
// process with limits 8 and 20, mean 16 and sigma 2 (Cp 1.0, Cpk 0.6667; the stored copy
// searched gave the definitions, not this example).
TEST(LineStats, CapabilityOfTheHandbooksProcess) {
  const Capability c = CapabilityOf(100, 16, 2, 8.0, 20.0);
  EXPECT_DOUBLE_EQ(*c.cp, 1.0);
  EXPECT_NEAR(*c.cpk, 0.6667, 1e-4);
  EXPECT_STREQ(CpkClass(*c.cpk), "not capable");
  EXPECT_FALSE(CapabilityOf(100, 16, 2, std::nullopt, 20.0).cp);  // one-sided: Cpk only
  EXPECT_NEAR(*CapabilityOf(100, 16, 2, std::nullopt, 20.0).cpk, 0.6667, 1e-4);
  // "Computing Process Capability Indices", Example 18.37 of the SHEWHART procedure in the
  // SAS/QC User's Guide (stored copy re-read): gap widths with limits 240 and 270, mean
  // 259.667, sigma 13.1028 give Cp 0.38160, CPL 0.50032, CPU = Cpk 0.26288.
  const Capability gaps = CapabilityOf(100, 259.667, 13.1028, 240.0, 270.0);
  EXPECT_NEAR(*gaps.cp, 0.38160, 5e-6);
  EXPECT_NEAR(*gaps.cpk, 0.26288, 2e-5) << "the published mean is rounded to 259.667";
  EXPECT_NEAR(*CapabilityOf(100, 259.667, 13.1028, 240.0, std::nullopt).cpk, 0.50032, 2e-5);
  // From sums as the database keeps them: 2, 4, 4, 4, 5, 5, 7, 9 (mean 5, sd 2.138)
  const Capability s = CapabilityFromSums(8, 40, 232, 0.0, 12.0);
  EXPECT_DOUBLE_EQ(s.mean, 5);
  EXPECT_NEAR(s.sd, 2.13809, 1e-5);
  EXPECT_NEAR(*s.cpk, 5 / (3 * 2.13809), 1e-5);
  EXPECT_FALSE(CapabilityFromSums(1, 5, 25, 0.0, 12.0).cpk) << "one value has no spread";
}

// "CUSUM Average Run Length" / tabular CUSUM, NIST/SEMATECH e-Handbook of Statistical
// Methods, 6.3.2.3.1, https://www.itl.nist.gov/div898/handbook/pmc/section3/pmc3231.htm:
// target 325, k = 0.3175, h = 4.1959, out of control from sample 14 (not re-read: the
// page was not among the stored copies searched again on 2026-12-09 either).
TEST(LineStats, CusumOfTheHandbooksExample) {
  const std::vector<double> x = {324.93, 324.68, 324.73, 324.35, 325.35, 325.23, 324.13,
                                 324.53, 325.23, 324.60, 324.63, 325.15, 328.33, 327.25,
                                 327.83, 328.50, 326.68, 327.78, 326.88, 328.35};
  const Cusum c = TabularCusum(x, 325, 1, 0.3175, 4.1959);
  ASSERT_FALSE(c.signals.empty());
  EXPECT_EQ(c.signals.front().index, 13u) << "sample 14";
  EXPECT_TRUE(c.signals.front().high);
  EXPECT_NEAR(c.high[12], 3.01, 0.005);
  EXPECT_NEAR(c.high[13], 4.95, 0.01);
  EXPECT_DOUBLE_EQ(c.low[0], 0) << "within k of the target";
  EXPECT_EQ(c.signals.size(), 7u) << "samples 14 to 20";
  // Our defaults (k = 0.5, h = 5) on a 1 sigma step: found within 10 values.
  std::vector<double> step(20, 0.0);
  step.resize(40, 1.0);
  const Cusum d = TabularCusum(step, 0, 1);
  ASSERT_FALSE(d.signals.empty());
  EXPECT_EQ(d.signals.front().index, 30u);  // 0.5 per value: above 5 after 11
}

// The cans of oil additive, "Saving Summary Statistics" (Figure 6.5) of the CUSUM
// procedure in SAS/QC's user's guide: subgroup means of 4 cans against a target of 8.100
// with sigma 0.050, and the published cumulative sums of the standardized means (2
// decimals). A tabular sum is the published sum less k per subgroup, taken above its
// lowest point so far (the lower sum: below its highest), so the table gives ours for any
// k without the recursion.
TEST(LineStats, CusumAgreesWithThePublishedSumsOfTheCansExample) {
  const std::vector<double> means = {8.09375, 8.09250, 8.10100, 8.11975, 8.10125,
                                     8.08000, 8.11450, 8.08300, 8.06175, 8.10225,
                                     8.10650, 8.09925, 8.15325, 8.12125, 8.14950};
  const std::vector<double> published = {-0.25, -0.55, -0.51, 0.28,  0.33,  -0.47, 0.11, -0.57,
                                         -2.10, -2.01, -1.75, -1.78, 0.35,  1.20,  3.18};
  const double sigma = 0.050 / 2;  // of a mean of 4
  for (const double k : {0.0, 0.5}) {
    const double h = 3;  // the guide's one-sided scheme
    const Cusum c = TabularCusum(means, 8.100, sigma, k, h);
    double lowest = 0, highest = 0;
    std::vector<size_t> expectedSignals;
    for (size_t i = 0; i < means.size(); ++i) {
      const double up = published[i] - k * static_cast<double>(i + 1);
      const double down = published[i] + k * static_cast<double>(i + 1);
      lowest = std::min(lowest, up);
      highest = std::max(highest, down);
      const double hi = up - lowest, lo = highest - down;
      EXPECT_NEAR(c.high[i] / sigma, hi, 0.011) << "k " << k << ", hour " << i + 1;
      EXPECT_NEAR(c.low[i] / sigma, lo, 0.011) << "k " << k << ", hour " << i + 1;
      if (hi > h || lo > h) expectedSignals.push_back(i);
    }
    std::vector<size_t> signals;
    for (const auto& s : c.signals) signals.push_back(s.index);
    EXPECT_EQ(signals, expectedSignals) << "k " << k;
    EXPECT_EQ(expectedSignals.back(), 14u) << "the last hour is beyond h at either k";
  }
}

TEST(LineStats, WesternElectricRulesEachFire) {
  auto first = [](const std::vector<double>& x) {
    const auto s = WesternElectric(x, 0, 1);
    return s.empty() ? ChartSignal{99, 0, true} : s.front();
  };
  EXPECT_EQ(first({0.1, -0.2, 3.5}).rule, 1);
  EXPECT_EQ(first({0.1, 2.5, -0.5, 2.2}).rule, 2);
  EXPECT_EQ(first({0.1, 2.5, -0.5, -2.2}).rule, 0) << "2 of 3 on different sides";
  const auto r3 = first({1.5, 1.2, 0.3, 1.1, 1.4, 0, 0});
  EXPECT_EQ(r3.rule, 3);
  EXPECT_EQ(r3.index, 4u);
  const auto r4 = first({-0.5, -0.4, -0.2, -0.3, -0.6, -0.1, -0.2, -0.9});
  EXPECT_EQ(r4.rule, 4);
  EXPECT_FALSE(r4.high);
  EXPECT_EQ(first({0.5, -0.5, 0.9, -0.9, 1.5, -1.5, 0.2, -0.2, 0.1}).rule, 0);
}

TEST(LineStats, RobustFiguresIgnoreAnOutlier) {
  EXPECT_DOUBLE_EQ(Median({5, 1, 3}), 3);
  EXPECT_DOUBLE_EQ(Median({4, 1, 3, 2}), 2.5);
  EXPECT_DOUBLE_EQ(RobustSigma({1, 2, 3, 4, 100}), 1.4826);
  EXPECT_DOUBLE_EQ(Percentile({1, 2, 3, 4, 5}, 95), 4.8);
  EXPECT_NEAR(NormalTwoSidedTail(3), 0.0026998, 1e-6);
}

namespace {

// The reference manual's study: parts 1-10, appraisers A, B, C, three trials each.
std::vector<GaugeMeasurement> ReferenceStudy() {
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
  std::vector<GaugeMeasurement> m;
  for (int a = 0; a < 3; ++a)
    for (int t = 0; t < 3; ++t)
      for (int p = 0; p < 10; ++p)
        m.push_back({"P" + std::to_string(p + 1), std::string(1, char('A' + a)), trials[a][t][p]});
  return m;
}

}  // namespace

// The ANOVA example of the Measurement Systems Analysis reference manual (AIAG, 4th ed.):
// 10 parts x 3 appraisers x 3 trials; its ANOVA table, and the figures a statistics
// package publishes for the same data with the interaction pooled (alpha 0.25): variance
// components 0.03997 / 0.05146 / 0.09143 / 1.0865, %study variation 27.86, ndc 4.
TEST(LineStats, GaugeStudyOfTheReferenceManualsData) {
  GaugeResult r;
  std::string why;
  GaugeOptions o;
  o.poolAlpha = 0;  // never pooled: the manual keeps the interaction in its table
  ASSERT_TRUE(StudyGauge(ReferenceStudy(), o, r, why)) << why;
  EXPECT_EQ(r.parts, 10);
  EXPECT_EQ(r.stations, 3);
  EXPECT_EQ(r.trials, 3);
  // The manual's ANOVA table.
  EXPECT_NEAR(r.ssStation, 3.1673, 5e-5);
  EXPECT_NEAR(r.ssPart, 88.3619, 5e-5);
  EXPECT_NEAR(r.ssInteraction, 0.3590, 5e-5);
  EXPECT_NEAR(r.ssError, 2.7589, 5e-5);
  EXPECT_NEAR(r.ssTotal, 94.6471, 5e-5);
  EXPECT_EQ(r.dfInteraction, 18);
  EXPECT_EQ(r.dfError, 60);
  EXPECT_FALSE(r.pooled);
  // Its mean squares, and the interaction's F = 0.434 at p = 0.974.
  EXPECT_NEAR(r.ssPart / r.dfPart, 9.81799, 5e-6);
  EXPECT_NEAR(r.ssStation / r.dfStation, 1.58363, 5e-6);
  EXPECT_NEAR(r.ssInteraction / r.dfInteraction, 0.01994, 5e-6);
  EXPECT_NEAR(r.ssError / r.dfError, 0.04598, 5e-6);
  EXPECT_NEAR(r.pInteraction, 0.974, 5e-4);
  // Variance components from the mean squares (the interaction is below the error: 0).
  EXPECT_NEAR(r.repeatability, 2.7589 / 60, 1e-5);
  EXPECT_DOUBLE_EQ(r.interaction, 0);
  EXPECT_NEAR(r.station, (3.1673 / 2 - 0.3590 / 18) / 30, 2e-5);
  EXPECT_NEAR(r.part, (88.3619 / 9 - 0.3590 / 18) / 9, 2e-5);
  // p far above 0.25: pooled by default, as the package does.
  GaugeResult pooled;
  GaugeOptions p;
  p.tolerance = 8;
  ASSERT_TRUE(StudyGauge(ReferenceStudy(), p, pooled, why));
  EXPECT_TRUE(pooled.pooled);
  EXPECT_NEAR(pooled.repeatability, 0.03997, 5e-6);
  EXPECT_NEAR(pooled.reproducibility, 0.05146, 5e-6);
  EXPECT_NEAR(pooled.grr, 0.09143, 5e-6);
  // (9.81799 - 0.03997) / 9 from the published mean squares; the copy of the package's
  // output read gives 1.08647, which those mean squares do not give.
  EXPECT_NEAR(pooled.part, 1.08645, 5e-6);
  EXPECT_NEAR(100 * pooled.grr / pooled.total, 7.76, 5e-3) << "% contribution";
  EXPECT_NEAR(pooled.grrOfTotal, 27.86, 5e-3);
  EXPECT_NEAR(*pooled.grrOfTolerance, 100 * 6 * std::sqrt(pooled.grr) / 8, 1e-9);
  EXPECT_EQ(pooled.distinctCategories, 4);
  EXPECT_STREQ(GrrClass(pooled.grrOfTotal), "conditional");
}

TEST(LineStats, GaugeStudyRefusesAnUnbalancedDesign) {
  auto m = ReferenceStudy();
  m.pop_back();
  GaugeResult r;
  std::string why;
  EXPECT_FALSE(StudyGauge(m, {}, r, why));
  EXPECT_NE(why.find("same number of times"), std::string::npos) << why;
  // F upper tail against a known value: F(2, 10) at 4.10 is p = 0.05.
  EXPECT_NEAR(FUpperTail(4.103, 2, 10), 0.05, 5e-4);
}

TEST(LineStats, RobustLimitsIgnoreAnOddPanel) {
  // 30 panels whose X0 means are 998..1002 (MAD 1) and one at 1500.
  std::vector<ElectrodeSummary> panels;
  for (int i = 0; i < 30; ++i) {
    ElectrodeSummary e;
    e.mean = 998 + i % 5;
    e.p2p = 6 + i % 3;
    e.stddev = 1.5;
    panels.push_back(e);
  }
  ElectrodeSummary odd;
  odd.mean = 1500;
  odd.p2p = 300;
  odd.stddev = 90;
  panels.push_back(odd);
  double tail = 0;
  const LimitValues v = LearnElectrodeRobust(panels, {}, &tail);
  // median 1000, 1.4826 x MAD 1.4826: 1000 +- 5 x 1.4826 = 992.6 .. 1007.4
  EXPECT_EQ(*v.meanMin, 992);
  EXPECT_EQ(*v.meanMax, 1008);
  EXPECT_EQ(*v.p2pMax, 7 + 8) << "median 7 + 5 x 1.4826, rounded up";
  EXPECT_DOUBLE_EQ(*v.stddevMax, 1.7) << "no spread: the floor of 0.2";
  // Beyond 5 sigma on the mean and p2p: about 6e-7 of good panels.
  EXPECT_GT(tail, 1e-7);
  EXPECT_LT(tail, 2e-6);
}

TEST(LineStats, PercentileSpreadInsteadOfMad) {
  EXPECT_NEAR(NormalQuantile(0.975), 1.959964, 1e-6);
  EXPECT_NEAR(NormalQuantile(0.25), -0.674490, 1e-6);
  RobustMargins m;
  m.spread = Spread::kPercentile;
  m.low = 10;
  m.high = 90;
  // 1..11: P10 = 2, P90 = 10, over 2 x 1.28155.
  EXPECT_NEAR(SpreadSigma({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, m), 8 / 2.563103, 1e-5);
  std::string why;
  EXPECT_TRUE(ValidSpread(m, why));
  for (auto [lo, hi] : {std::pair{90.0, 10.0}, {0.0, 50.0}, {50.0, 100.0}}) {
    m.low = lo;
    m.high = hi;
    EXPECT_FALSE(ValidSpread(m, why)) << lo << "," << hi;
  }
  // The odd panel of the MAD test moves nothing here either; P5..P95 = 998..1002 gives
  // sigma 4 / 3.2897 = 1.216: 1000 +- 6.08.
  std::vector<ElectrodeSummary> panels;
  for (int i = 0; i < 30; ++i) {
    ElectrodeSummary e;
    e.mean = 998 + i % 5;
    e.p2p = 7;
    e.stddev = 1.5;
    panels.push_back(e);
  }
  panels.push_back({});
  panels.back().mean = 1500;
  m.low = 5;
  m.high = 95;
  const LimitValues v = LearnElectrodeRobust(panels, m);
  EXPECT_EQ(*v.meanMin, 993);
  EXPECT_EQ(*v.meanMax, 1007);
  EXPECT_NE(RobustMethodText(m).find("sigma = (P95 - P5) / 3.29"), std::string::npos)
      << RobustMethodText(m);
}
