// The touch tests on synthetic coordinate reports: a panel with a known defect must give
// the defect back as the measured value, and a clean one must pass.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "analysis/Limits.h"
#include "analysis/TouchTests.h"

using namespace analysis;

namespace {

// 190 x 110 mm over 2432 x 1408 units (0.078 mm a unit).
TouchGeometry Panel() {
  return TouchGeometry{2432, 1408, 190, 110};
}

struct Finger {
  int id;
  double xMm, yMm;
};

// Reports of fingers given in millimetres, one report every periodUs.
class Feed {
 public:
  explicit Feed(const TouchGeometry& g = Panel()) : g_(g), tracker_(g) {}
  void Report(const std::vector<Finger>& fingers, TipState state = TipState::kDown) {
    TouchReport r;
    r.us = us_;
    for (const Finger& f : fingers)
      r.contacts[static_cast<size_t>(r.count++)] =
          TouchContact{f.id, state, std::round(g_.XUnits(f.xMm)), std::round(g_.YUnits(f.yMm))};
    tracker_.Add(r);
    us_ += periodUs;
  }
  void Skip(int reports) { us_ += reports * periodUs; }
  std::vector<Check> Run(TouchTest test, std::string* why = nullptr,
                              const TouchTruth* truth = nullptr, TouchLimits limits = {}) {
    tracker_.Finish();
    std::vector<Check> out;
    std::string reason;
    TouchRun run{&tracker_, g_, limits, truth, 0};
    const bool ok = EvaluateTouch(test, run, out, reason);
    if (why) *why = reason;
    EXPECT_TRUE(ok || why) << reason;
    return out;
  }
  const StrokeTracker& Tracker() const { return tracker_; }
  int64_t periodUs = 10'000;

 private:
  TouchGeometry g_;
  StrokeTracker tracker_;
  int64_t us_ = 0;
};

const Check& Find(const std::vector<Check>& checks, const std::string& check) {
  for (const Check& c : checks)
    if (c.check == check) return c;
  ADD_FAILURE() << "no check " << check;
  static const Check none = [] {  // a check not given: 0
    Check c;
    c.value = 0;
    return c;
  }();
  return none;
}

// A contact held still with position noise uniform in a disc of radius noiseMm.
Feed Held(double noiseMm, int reports = 300) {
  Feed f;
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0, 1);
  for (int i = 0; i < reports; ++i) {
    const double r = noiseMm * std::sqrt(u(rng)), a = 2 * std::numbers::pi * u(rng);
    f.Report({{0, 95 + r * std::cos(a), 55 + r * std::sin(a)}});
  }
  f.Report({{0, 95, 55}}, TipState::kLift);
  return f;
}

// A stroke from (20, y) to (170, y) bowed sideways by bowMm at its middle.
Feed Bowed(double y, double bowMm) {
  Feed f;
  for (int i = 0; i <= 150; ++i) {
    const double t = i / 150.0;
    f.Report({{0, 20 + 150 * t, y + bowMm * 4 * t * (1 - t)}});
  }
  f.Report({{0, 170, y}}, TipState::kLift);
  return f;
}

}  // namespace

TEST(TouchReport, DecodesMultiAndSingleTouchWithoutReadingPastTheFrame) {
  // Two entries: finger 3 down at (0x0102, 0x0304), finger 5 lifting.
  const uint8_t multi[] = {0x02, 0x4D, 0x0D, 0x02, 7, 3, 0x02, 0x01, 0x04, 0x03,
                           4,    5,    0x10, 0x00, 0x20, 0x00};
  TouchReport r;
  ASSERT_TRUE(DecodeTouchReport(multi, sizeof multi, 42, r));
  ASSERT_EQ(r.count, 2);
  EXPECT_EQ(r.us, 42);
  EXPECT_EQ(r.contacts[0].id, 3);
  EXPECT_EQ(r.contacts[0].state, TipState::kDown);
  EXPECT_EQ(r.contacts[0].x, 0x0102);
  EXPECT_EQ(r.contacts[0].y, 0x0304);
  EXPECT_EQ(r.contacts[1].state, TipState::kLift);
  // The count claims two entries, the frame holds one and a half: only one is read.
  ASSERT_TRUE(DecodeTouchReport(multi, 13, 0, r));
  EXPECT_EQ(r.count, 1);

  const uint8_t single[] = {0x01, 0x05, 0x00, 0x02, 0x00, 0x01, 200, 0};
  ASSERT_TRUE(DecodeTouchReport(single, sizeof single, 0, r));
  ASSERT_EQ(r.count, 1);
  EXPECT_EQ(r.contacts[0].id, 1);  // bit 2: the second finger
  EXPECT_EQ(r.contacts[0].state, TipState::kDown);
  EXPECT_EQ(r.contacts[0].x, 512);

  const uint8_t data[] = {0x02, 0x4B, 0x06, 0x00, 0, 0, 1, 0xE8, 0x03};
  EXPECT_FALSE(DecodeTouchReport(data, sizeof data, 0, r));
}

TEST(TouchStrokes, LiftEndsAStrokeAndASilentContactEndsUnlifted) {
  Feed f;
  f.Report({{0, 10, 10}, {1, 50, 50}});
  f.Report({{0, 11, 10}, {1, 50, 50}});
  f.Report({{0, 11, 10}}, TipState::kLift);  // 0 lifts
  for (int i = 0; i < 30; ++i) f.Report({{2, 100, 80}});  // 1 never reported again
  f.Report({{0, 20, 20}});  // 0 again: a new stroke
  f.Tracker();
  std::string why;
  f.Run(TouchTest::kContacts, &why);
  const auto& s = f.Tracker().Strokes();
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0].id, 0);
  EXPECT_TRUE(s[0].lifted);
  EXPECT_EQ(s[0].points.size(), 2u);
  EXPECT_EQ(s[1].id, 1);
  EXPECT_FALSE(s[1].lifted);
  EXPECT_EQ(s[3].id, 0);
  EXPECT_EQ(f.Tracker().MaxSimultaneous(), 2);
}

TEST(TouchTests, RateAndGapGiveBackTheRateAndTheDroppedReports) {
  auto line = [](int64_t periodUs, int dropEvery) {
    Feed f;
    f.periodUs = periodUs;
    for (int i = 0; i < 200; ++i) {
      if (dropEvery && i % dropEvery >= dropEvery - 4) {
        f.Skip(1);
        continue;
      }
      f.Report({{0, 20 + i * 0.5, 50}});
    }
    return f;
  };
  auto clean = line(10'000, 0).Run(TouchTest::kRate);
  EXPECT_TRUE(Find(clean, "rate").pass);
  EXPECT_NEAR(*Find(clean, "rate").value, 100, 0.01);
  EXPECT_TRUE(Find(clean, "longest gap").pass);

  auto slow = line(1'000'000 / 70, 0).Run(TouchTest::kRate);
  EXPECT_FALSE(Find(slow, "rate").pass);
  EXPECT_NEAR(*Find(slow, "rate").value, 70, 7);
  EXPECT_TRUE(Find(slow, "longest gap").pass);

  // Four dropped in every 50: a gap of five periods.
  auto dropped = line(10'000, 50).Run(TouchTest::kRate);
  EXPECT_FALSE(Find(dropped, "longest gap").pass);
  EXPECT_NEAR(*Find(dropped, "longest gap").value, 5, 0.5);
  EXPECT_EQ(Find(dropped, "longest gap").Limit(), "<= 3.0 periods");
}

TEST(TouchTests, JitterGivesBackTheNoise) {
  auto quiet = Held(0.2).Run(TouchTest::kJitter);
  ASSERT_EQ(quiet.size(), 1u);
  EXPECT_TRUE(quiet[0].pass);
  EXPECT_NEAR(*quiet[0].value, 0.2, 0.02 + 0.06);  // plus the rounding to whole units

  auto noisy = Held(1.0).Run(TouchTest::kJitter);
  ASSERT_EQ(noisy.size(), 1u);
  EXPECT_FALSE(noisy[0].pass);
  EXPECT_NEAR(*noisy[0].value, 1.0, 0.1);
  EXPECT_EQ(noisy[0].Limit(), "<= 0.50 mm");

  // A tap too short to leave anything after settling is not a hold.
  std::string why;
  EXPECT_TRUE(Held(0.2, 40).Run(TouchTest::kJitter, &why).empty());
  EXPECT_NE(why.find("held"), std::string::npos);
}

TEST(TouchTests, LinearityAgainstTheFittedLineWithTheEdgeLimitNearEdges) {
  auto straight = Bowed(55, 0).Run(TouchTest::kLinearity);
  ASSERT_EQ(straight.size(), 1u);
  EXPECT_TRUE(straight[0].pass);
  EXPECT_LT(*straight[0].value, 0.1);

  // A parabola of sagitta s lies at most 2/3 s from its least-squares line: 1.5 mm.
  auto bowed = Bowed(55, 2.25).Run(TouchTest::kLinearity);
  ASSERT_EQ(bowed.size(), 1u);
  EXPECT_FALSE(bowed[0].pass);
  EXPECT_NEAR(*bowed[0].value, 1.5, 0.15);

  // The same stroke 2 mm from the top edge is judged by the edge limit (2 mm).
  auto edge = Bowed(2, 2.25).Run(TouchTest::kLinearity);
  const Check& e = Find(edge, "linearity at the edge");
  EXPECT_TRUE(e.pass);
  EXPECT_NEAR(*e.value, 1.5, 0.15);
}

TEST(TouchTests, AccuracyMatchesTruthByContactAndTime) {
  TouchTruth truth;
  std::string error;
  EXPECT_FALSE(truth.Parse("t,c,x,y\n1,0,2,3\n", error));
  EXPECT_NE(error.find("line 1"), std::string::npos);
  EXPECT_FALSE(truth.Parse("time,contact,x_mm,y_mm\n0,0,1,2\n1,zero,1,2\n", error));
  EXPECT_NE(error.find("line 3"), std::string::npos);
  // A moving contact 0 from (20, 50) to (170, 50) over 1.5 s; contact 1 somewhere else.
  ASSERT_TRUE(truth.Parse("Time, Contact, X_mm, Y_mm\r\n0,0,20,50\r\n1.5,0,170,50\r\n"
                          "0,1,100,100\r\n1.5,1,100,100\r\n",
                          error))
      << error;
  const auto mid = truth.At(0, 0.75);
  ASSERT_TRUE(mid);
  EXPECT_DOUBLE_EQ(mid->xMm, 95);
  EXPECT_FALSE(truth.At(0, 3.0));
  EXPECT_FALSE(truth.At(7, 0.5));

  auto run = [&](double offsetMm) {
    Feed f;
    for (int i = 0; i <= 150; ++i) f.Report({{0, 20 + i + offsetMm, 50}});
    return f.Run(TouchTest::kAccuracy, nullptr, &truth);
  };
  auto clean = run(0);
  EXPECT_TRUE(Find(clean, "points within limit").pass);
  auto off = run(1.5);
  EXPECT_FALSE(Find(off, "points within limit").pass);
  EXPECT_NEAR(*Find(off, "error (95th percentile)").value, 1.5, 0.15);

  std::string why;
  Feed none;
  none.Report({{0, 20, 50}});
  EXPECT_TRUE(none.Run(TouchTest::kAccuracy, &why).empty());
  EXPECT_NE(why.find("--truth"), std::string::npos);
}

TEST(TouchTests, ContactsCountAndIdSwaps) {
  auto five = [](bool swap) {
    Feed f;
    for (int i = 0; i < 50; ++i) {
      std::vector<Finger> fingers;
      for (int k = 0; k < 5; ++k) fingers.push_back({k, 20.0 + 30 * k + 0.2 * i, 40});
      if (swap && i >= 25) std::swap(fingers[1].id, fingers[2].id);
      f.Report(fingers);
    }
    return f.Run(TouchTest::kContacts);
  };
  auto clean = five(false);
  EXPECT_EQ(*Find(clean, "simultaneous contacts").value, 5);
  for (const Check& c : clean) EXPECT_TRUE(c.pass) << c.item << " " << c.check;

  auto swapped = five(true);
  int failed = 0;
  for (const Check& c : swapped) failed += c.pass ? 0 : 1;
  EXPECT_EQ(failed, 2);  // the two strokes whose ids were exchanged
}

TEST(TouchTests, SeparationIsTheClosestApproachStillReportedAsTwo) {
  // Two contacts approach from 40 mm to 10 mm; a panel that merges them below mergeMm.
  auto pinch = [](double mergeMm) {
    Feed f;
    for (int i = 0; i <= 300; ++i) {
      const double d = 40 - 0.1 * i;
      if (d < mergeMm)
        f.Report({{0, 95, 55}});
      else
        f.Report({{0, 95 - d / 2, 55}, {1, 95 + d / 2, 55}});
    }
    return f.Run(TouchTest::kSeparation);
  };
  auto clean = pinch(0);
  ASSERT_EQ(clean.size(), 1u);
  EXPECT_TRUE(clean[0].pass);
  EXPECT_NEAR(*clean[0].value, 10 - 7, 0.1);  // edge to edge with 7 mm fingers
  auto merging = pinch(20);
  EXPECT_FALSE(merging[0].pass);
  EXPECT_NEAR(*merging[0].value + 7, 20, 2);
  EXPECT_EQ(merging[0].item, "contacts 0 and 1");
}

TEST(TouchTests, GhostsAndWhatRunsWithoutMillimetres) {
  Feed quiet;
  auto none = quiet.Run(TouchTest::kGhost);
  ASSERT_EQ(none.size(), 1u);
  EXPECT_TRUE(none[0].pass);

  Feed ghost;
  for (int i = 0; i < 4; ++i) ghost.Report({{10, 50, 50}});
  ghost.Report({{10, 50, 50}}, TipState::kLift);
  auto seen = ghost.Run(TouchTest::kGhost);
  EXPECT_FALSE(Find(seen, "ghost contacts").pass);
  EXPECT_EQ(*Find(seen, "reports while untouched").value, 4);

  // Without the panel size: rate, ghosts and contacts, nothing in millimetres.
  const TouchGeometry units{2432, 1408, 0, 0};
  for (TouchTest t : {TouchTest::kJitter, TouchTest::kLinearity, TouchTest::kSeparation}) {
    Feed f(units);
    f.Report({{0, 1, 1}});
    std::string why;
    EXPECT_TRUE(f.Run(t, &why).empty());
    EXPECT_NE(why.find("width_mm"), std::string::npos);
  }
  Feed f(units);
  for (int i = 0; i < 10; ++i) f.Report({{0, 1.0 + i, 1}});
  EXPECT_FALSE(f.Run(TouchTest::kRate).empty());
}

TEST(TouchLimitsFile, TouchSectionAndPanelSize) {
  Limits l;
  LimitsError err;
  ASSERT_TRUE(ParseLimits("[panel]\nwidth_mm = 190.5\nheight_mm = 110\n[touch]\n"
                          "jitter_max_mm = 1\nrate_min_hz = 60\n",
                          "t.toml", l, err))
      << err.Text();
  EXPECT_EQ(l.widthMm, 190.5);
  EXPECT_EQ(l.touch.jitterMaxMm, 1);
  EXPECT_EQ(l.touch.rateMinHz, 60);
  EXPECT_EQ(l.touch.linearityMaxMm, 1);  // the default where the file is silent

  EXPECT_FALSE(ParseLimits("[touch]\njitter_mm = 1\n", "t.toml", l, err));
  EXPECT_EQ(err.Text().substr(0, 12), "t.toml:2:1: ");
  EXPECT_NE(err.message.find("jitter_max_mm"), std::string::npos);
  EXPECT_FALSE(ParseLimits("[touch]\nedge_mm = -1\n", "t.toml", l, err));
  EXPECT_FALSE(ParseLimits("[touch]\nedge_mm = nan\n", "t.toml", l, err));
  EXPECT_FALSE(ParseLimits("[touch]\naccuracy_pass_percent = 101\n", "t.toml", l, err));
  EXPECT_FALSE(ParseLimits("[panel]\nwidth_mm = 0\n", "t.toml", l, err));
  EXPECT_FALSE(ParseLimits("[panel]\nheight_mm = \"110\"\n", "t.toml", l, err));
}
