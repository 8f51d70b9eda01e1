#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "analysis/Check.h"
#include "analysis/TestRun.h"

using analysis::Check;
using analysis::FormatNumber;
using analysis::RangeText;
using analysis::TestRun;

// Numbers as every report prints them: no "-0", no trailing zeros, at most 3 decimals.
TEST(Check, NumbersAndBoundsAsTheReportsShowThem) {
  EXPECT_EQ(FormatNumber(1012), "1012");
  EXPECT_EQ(FormatNumber(-0.0), "0");
  EXPECT_EQ(FormatNumber(-0.0001), "0");
  EXPECT_EQ(FormatNumber(0.5), "0.5");
  EXPECT_EQ(FormatNumber(0.1236), "0.124");
  EXPECT_EQ(FormatNumber(-2.25), "-2.25");
  EXPECT_EQ(FormatNumber(1e15), "1000000000000000");
  EXPECT_EQ(FormatNumber(std::nan("")), "-");
  EXPECT_EQ(FormatNumber(-std::numeric_limits<double>::infinity()), "-inf");

  EXPECT_EQ(RangeText(900.0, 1100.0), "900 .. 1100");
  EXPECT_EQ(RangeText(900.0, std::nullopt), ">= 900");
  EXPECT_EQ(RangeText(std::nullopt, 0.5), "<= 0.5");
  EXPECT_EQ(RangeText(std::nullopt, std::nullopt), "");
}

// What is kept drops only what the numbers already say: a text with no number behind it
// and a limit text with no bounds survive.
TEST(Check, KeptDropsOnlyWhatTheNumbersSay) {
  Check open{"m0-raw", "X5", "open/short", 12.0, "open (mean 12)", "counts", 100.0, {}, "", false};
  const Check kept = open.Kept();
  EXPECT_EQ(kept.text, "");
  EXPECT_EQ(kept.Shown(), "12");
  EXPECT_EQ(kept.Limit(), ">= 100");
  EXPECT_EQ(open.Title(), "X5 open/short");

  Check version{"panel", "", "version", {}, "\"TPC 1.0\"", "", {}, {}, "matches \"TPC 1.*\"", true};
  const Check keptVersion = version.Kept();
  EXPECT_EQ(keptVersion.Shown(), "\"TPC 1.0\"");
  EXPECT_EQ(keptVersion.Limit(), "matches \"TPC 1.*\"");
  EXPECT_EQ(version.Title(": "), "version");
}

// A run passes only when something was checked, nothing failed and nothing could not be
// measured; groups come in the order they were met.
TEST(TestRun, AVerdictNeedsChecksAndNoErrors) {
  TestRun run;
  EXPECT_FALSE(run.Passed());  // checked nothing
  run.checks.push_back({"m0-raw", "X0", "mean", 1000.0, "", "counts", 900.0, 1100.0, "", true});
  EXPECT_TRUE(run.Passed());
  run.errors.push_back({"m1x-raw", "no complete scan"});
  EXPECT_FALSE(run.Passed());
  run.errors.clear();
  run.checks.push_back({"panel", "", "x_count", 37.0, "", "", 38.0, 38.0, "", false});
  run.skipped.push_back({"m0-raw", "panel failed"});
  EXPECT_FALSE(run.Passed());
  EXPECT_EQ(run.Failed(), 1);
  EXPECT_EQ(run.Groups(), (std::vector<std::string>{"m0-raw", "panel"}));

  run.AddSeconds("m0-raw", 1.5);
  run.AddSeconds("m0-raw", 0.25);
  EXPECT_DOUBLE_EQ(run.Seconds("m0-raw"), 1.75);
  EXPECT_DOUBLE_EQ(run.Seconds("panel"), 0);
  run.SetProperty("serial", "SN-A");
  run.SetProperty("serial", "SN-B");
  ASSERT_EQ(run.properties.size(), 1u);
  EXPECT_EQ(run.properties[0].second, "SN-B");
}
