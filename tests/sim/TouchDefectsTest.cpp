// Each touch test against the virtual controller on a stepped clock: the clean panel
// passes, the panel with the defect fails, and the value measured is the defect put in.
#include <gtest/gtest.h>

#include <functional>

#include "analysis/TouchTests.h"
#include "sim/VirtualController.h"

using namespace tpcsim;
using analysis::Check;
using analysis::TouchTest;

namespace {

// 190 x 110 mm, 2432 x 1408 units.
class Panel {
 public:
  Panel() : c(clock, ControllerConfig{}) {
    c.HandleHostFrame(Bytes{0x02, 0x4C, 0x02, 0x05, 0x01});  // coordinates to the host
  }
  // Runs ms of 1 ms steps; `script` is called every step with the time since the start.
  void Run(int ms, const std::function<void(int)>& script = nullptr) {
    for (int i = 0; i < ms; ++i) {
      if (script) script(i);
      clock.AdvanceMs(1);
      for (const OutFrame& o : c.Poll()) {
        analysis::TouchReport r;
        if (analysis::DecodeTouchReport(o.bytes.data(), static_cast<int>(o.bytes.size()),
                                        clock.NowUs(), r))
          tracker.Add(r);
      }
    }
  }
  std::vector<Check> Evaluate(TouchTest test) {
    tracker.Finish();
    std::vector<Check> out;
    std::string why;
    EXPECT_TRUE(EvaluateTouch(test, analysis::TouchRun{&tracker, geometry, {}, nullptr, 0}, out, why))
        << why;
    return out;
  }
  void Line(int f, double x0, double y0, double x1, double y1, int ms) {
    FingerPath p;
    p.kind = FingerPath::Kind::Line;
    p.x0 = x0, p.y0 = y0, p.x1 = x1, p.y1 = y1;
    p.durationUs = ms * 1000;
    c.StartTouch(f, p);
  }
  void Hold(int f, double x, double y) {
    FingerPath p;
    p.kind = FingerPath::Kind::Hold;
    p.x0 = x, p.y0 = y;
    c.StartTouch(f, p);
  }
  TouchDefectSettings& Defects() { return c.Defects().Settings(); }

  SteppedClock clock;
  VirtualController c;
  analysis::TouchGeometry geometry{2432, 1408, 190, 110};
  analysis::StrokeTracker tracker{geometry};
};

double Worst(const std::vector<Check>& checks, const std::string& check, bool& pass) {
  double worst = 0;
  pass = true;
  bool found = false;
  for (const Check& c : checks) {
    if (c.check != check) continue;
    worst = found ? std::max(worst, *c.value) : *c.value;
    found = true;
    pass = pass && c.pass;
  }
  EXPECT_TRUE(found) << check;
  return worst;
}

}  // namespace

TEST(SimTouchDefects, NoiseIsTheJitterPutIn) {
  for (double mm : {0.2, 1.0}) {
    Panel p;
    p.Defects().noiseMm = mm;
    p.Hold(0, 1200, 700);
    p.Run(3000);
    p.c.LiftTouch(0);
    p.Run(50);
    bool pass = false;
    const double jitter = Worst(p.Evaluate(TouchTest::kJitter), "jitter", pass);
    EXPECT_EQ(pass, mm < 0.5) << mm;
    EXPECT_NEAR(jitter, mm, 0.1 * mm + 0.06) << mm;  // plus whole panel units
  }
}

TEST(SimTouchDefects, PincushionBendsTheLineAcrossByItsDepth) {
  for (double mm : {0.0, 1.5}) {
    Panel p;
    p.Defects().pincushionMm = mm;
    // A tenth of the height from the top, 5 % to 95 % of the width.
    p.Line(0, 122, 141, 2310, 141, 1500);
    p.Run(1600);
    bool pass = false;
    const double value = Worst(p.Evaluate(TouchTest::kLinearity), "linearity", pass);
    EXPECT_EQ(pass, mm == 0);
    EXPECT_NEAR(value, mm, 0.15 + 0.05);
  }
}

TEST(SimTouchDefects, RateDroppedReportsAndOffset) {
  Panel slow;
  slow.c.SetTouchRate(70);
  slow.Line(0, 200, 200, 2000, 1200, 1500);
  slow.Run(1600);
  bool pass = true;
  auto checks = slow.Evaluate(TouchTest::kRate);
  EXPECT_NEAR(Worst(checks, "rate", pass), 70, 7);
  EXPECT_FALSE(pass);

  Panel clean;
  clean.Line(0, 200, 200, 2000, 1200, 1500);
  clean.Run(1600);
  for (const Check& c : clean.Evaluate(TouchTest::kRate)) EXPECT_TRUE(c.pass) << c.check;

  Panel dropping;
  dropping.Defects().dropCount = 4;  // of every 50
  dropping.Line(0, 200, 200, 2000, 1200, 1500);
  dropping.Run(1600);
  EXPECT_NEAR(Worst(dropping.Evaluate(TouchTest::kRate), "longest gap", pass), 5, 0.5);
  EXPECT_FALSE(pass);
}

TEST(SimTouchDefects, GhostsAppearWithNothingOnTheGlass) {
  Panel clean;
  clean.c.TouchDefectsChanged();
  clean.Run(2000);
  for (const Check& c : clean.Evaluate(TouchTest::kGhost)) EXPECT_TRUE(c.pass);

  Panel ghostly;
  ghostly.Defects().ghosts = 1;
  ghostly.c.TouchDefectsChanged();
  ghostly.Run(1900);  // clock 1.0 s to 2.9 s: ghosts at 1.0, 1.5, 2.0 and 2.5 s
  bool pass = true;
  EXPECT_EQ(Worst(ghostly.Evaluate(TouchTest::kGhost), "ghost contacts", pass), 4);
  EXPECT_FALSE(pass);
  ghostly.Defects().ghosts = 0;
  ghostly.Run(100);
  EXPECT_EQ(ghostly.c.NextWakeUs(), VirtualController::kNever);  // quiet again

  // A panel the noise source upsets: ghosts only while it is on (1.0 to 1.9 s off).
  Panel upset;
  upset.Defects().noiseGhosts = 2;
  upset.c.TouchDefectsChanged();
  upset.Run(900);
  upset.c.Defects().SetNoiseSource(true);
  upset.c.TouchDefectsChanged();
  upset.Run(1000);  // 1.9 s to 2.9 s: at 2.0 and 2.5 s
  upset.c.Defects().SetNoiseSource(false);
  upset.Run(100);
  EXPECT_EQ(Worst(upset.Evaluate(TouchTest::kGhost), "ghost contacts", pass), 4);
  EXPECT_EQ(upset.c.NextWakeUs(), VirtualController::kNever);
}

TEST(SimTouchDefects, IdSwapAndMergedContacts) {
  auto five = [](bool swap) {
    Panel p;
    for (int f = 0; f < 5; ++f) p.Hold(f, 200 + 400 * f, 300);
    p.Run(300, [&](int ms) {
      if (swap && ms == 150) p.Defects().swapA = 1, p.Defects().swapB = 3;
    });
    p.c.LiftAllTouches();
    p.Run(50);
    return p.Evaluate(TouchTest::kContacts);
  };
  bool pass = false;
  auto clean = five(false);
  EXPECT_EQ(Worst(clean, "simultaneous contacts", pass), 5);
  EXPECT_EQ(Worst(clean, "id swaps", pass), 0);
  EXPECT_TRUE(pass);
  EXPECT_EQ(Worst(five(true), "id swaps", pass), 1);
  EXPECT_FALSE(pass);

  // Two fingers slide together from 51 mm to 6 mm apart (centres); merged below 20 mm.
  for (double merge : {0.0, 20.0}) {
    Panel p;
    p.Defects().mergeMm = merge;
    p.Line(0, 890, 700, 1180, 700, 1500);
    p.Line(1, 1540, 700, 1250, 700, 1500);
    p.Run(1600);
    auto checks = p.Evaluate(TouchTest::kSeparation);
    const double edgeToEdge = Worst(checks, "separation", pass);
    EXPECT_EQ(pass, merge == 0);
    // Centre distance = edge to edge + the 7 mm finger.
    EXPECT_NEAR(edgeToEdge + 7, merge == 0 ? 70 * 190.0 / 2432 : merge, 0.1 * 20);
  }
}
