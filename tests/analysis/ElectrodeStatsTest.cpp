#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analysis/ElectrodeStats.h"

using analysis::ElectrodeStats;
using analysis::ScanLayout;
using analysis::StreamKind;

TEST(ElectrodeStats, FiguresPerElectrodeMatchTheDefinitions) {
  ElectrodeStats s(ScanLayout{1, 1}, StreamKind::kRaw);
  // Large offset: a naive sum of squares would lose the small spread.
  const std::vector<std::vector<int32_t>> scans{
      {1000001, 5}, {1000002, 5}, {1000003, 5}, {1000004, 5}};
  for (const auto& v : scans) s.Add(v);
  const auto x = s.Summary(0);
  EXPECT_EQ(s.Scans(), 4u);
  EXPECT_EQ(x.min, 1000001);
  EXPECT_EQ(x.max, 1000004);
  EXPECT_EQ(x.p2p, 3);
  EXPECT_NEAR(x.mean, 1000002.5, 1e-9);
  EXPECT_NEAR(x.stddev, std::sqrt(1.25), 1e-9);
  const auto y = s.Summary(1);
  EXPECT_EQ(y.p2p, 0);
  EXPECT_DOUBLE_EQ(y.stddev, 0);
  EXPECT_TRUE(std::isnan(y.snr));  // only signal data has one
}

TEST(ElectrodeStats, SignalToNoiseOfTouchedElectrodesOnly) {
  ElectrodeStats s(ScanLayout{3, 0}, StreamKind::kSignal);
  // Untouched: electrode 1 alternates 998/1002 (sigma 2); touched: electrode 1 at 1200.
  for (int i = 0; i < 10; ++i) s.Add(std::vector<int32_t>{1000, i % 2 ? 1002 : 998, 1000});
  for (int i = 0; i < 5; ++i) s.Add(std::vector<int32_t>{1010, 1200, 1000});
  EXPECT_EQ(s.TouchedScans(), 5u);
  EXPECT_NEAR(s.Summary(1).snr, 200.0 / 2.0, 1e-9);
  EXPECT_TRUE(std::isnan(s.Summary(0).snr));  // never above the touch threshold
  EXPECT_TRUE(std::isnan(s.Summary(2).snr));
}

TEST(ElectrodeStats, OpenAndShortFlags) {
  ElectrodeStats s(ScanLayout{3, 0}, StreamKind::kOpenShort, {1000, 50, 400, 1600});
  s.Add(std::vector<int32_t>{0, 1000, 2000});
  EXPECT_TRUE(s.Summary(0).open);
  EXPECT_FALSE(s.Summary(1).open || s.Summary(1).shorted);
  EXPECT_TRUE(s.Summary(2).shorted);
}
