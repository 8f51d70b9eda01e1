// The touch performance tests: each turns the strokes of one run into checks against
// the [touch] limits, in millimetres and hertz.
#pragma once

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/Check.h"
#include "analysis/TouchLimits.h"
#include "analysis/TouchStrokes.h"

namespace analysis {

enum class TouchTest { kGhost, kRate, kJitter, kLinearity, kAccuracy, kContacts, kSeparation };

struct TouchTestInfo {
  TouchTest test;
  const char* name;    // "jitter"
  const char* prompt;  // what the person at the bench is asked to do
  bool needsMm;        // needs the panel's size in millimetres
  bool touches;        // the run waits for a touch (every test but ghost)
  double seconds;      // default length of the run after the first touch (ghost: whole run)
  // A second window while the controller's noise is raised (ghost): what the person at
  // the bench is asked first. nullptr for the other tests.
  const char* noisePrompt;
};

// The suite of the raised-noise window of the ghost test.
constexpr const char* kGhostNoiseSuite = "ghost-noise";

const TouchTestInfo* FindTouchTest(std::string_view name);
const TouchTestInfo& InfoOf(TouchTest test);
std::string TouchTestNames();  // "ghost, rate, ..."

// True positions of contacts (a jig's or robot's path): time in seconds from the first
// touch of the run, contact id, millimetres.
struct TruthSample {
  double t = 0;
  int contact = 0;
  double xMm = 0, yMm = 0;
};
class TouchTruth {
 public:
  // CSV with the header "time,contact,x_mm,y_mm"; false with the line and reason in error.
  bool Parse(std::string_view text, std::string& error);
  bool Empty() const { return byContact_.empty(); }
  void Add(const TruthSample& s);
  // The true position of a contact at t: interpolated between samples, the nearest end
  // within `slack` seconds of them; nothing outside.
  std::optional<TruthSample> At(int contact, double t, double slack = 0.1) const;

 private:
  std::map<int, std::vector<TruthSample>> byContact_;
};

struct TouchRun {
  const StrokeTracker* strokes = nullptr;
  TouchGeometry geometry;
  TouchLimits limits;
  const TouchTruth* truth = nullptr;  // accuracy only
  int64_t startUs = 0;                // time 0 of the truth (the first touch)
  bool raisedNoise = false;           // ghost: the window while the noise was raised
};

// The checks of a test (group: the test, item: "window", "stroke 2 (contact 1)",
// "contacts 0 and 1"; shown with their units). False with the reason in notMeasured when the run cannot give
// them (no millimetres, no truth, no stroke to measure).
bool EvaluateTouch(TouchTest test, const TouchRun& run, std::vector<Check>& out,
                   std::string& notMeasured);

// Single figures, for the tests and the live views.
struct RateFigures {
  double hz = 0;          // reports per second
  double gapMs = 0;       // longest time between two reports
  double gapPeriods = 0;  // ... in typical (median) report periods
};
RateFigures StrokeRate(const std::vector<StrokePoint>& points);
// Largest distance of the points [first, last) from their mean position, mm; 0 for none.
template <typename It>
double SpreadMm(It first, It last, const TouchGeometry& g) {
  double mx = 0, my = 0, n = 0;
  for (It p = first; p != last; ++p, ++n) {
    mx += g.XMm(p->x);
    my += g.YMm(p->y);
  }
  if (n == 0) return 0;
  mx /= n;
  my /= n;
  double worst = 0;
  for (It p = first; p != last; ++p)
    worst = std::max(worst, std::hypot(g.XMm(p->x) - mx, g.YMm(p->y) - my));
  return worst;
}
// Largest distance from the mean position, mm; points of the first and last settleUs
// left out.
double StrokeJitterMm(const std::vector<StrokePoint>& points, const TouchGeometry& g,
                      int64_t settleUs = 0);
struct LinearityFigures {
  double maxMm = 0;      // points further than edgeMm from every edge
  double edgeMaxMm = -1; // points within edgeMm of an edge, -1 without such points
  double lengthMm = 0;
};
LinearityFigures StrokeLinearity(const std::vector<StrokePoint>& points, const TouchGeometry& g,
                                 double edgeMm);

}  // namespace analysis
