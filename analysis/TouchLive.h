// Live figures of the contacts on the glass for the views: report rate per contact over
// the last second and, for a contact held still, its jitter in millimetres. Also the
// targets of the accuracy mode and the error of each tap.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "analysis/TouchLimits.h"
#include "analysis/TouchReport.h"
#include "analysis/TouchStrokes.h"

namespace analysis {

class LiveTouchFigures {
 public:
  static constexpr int64_t kWindowUs = 1'000'000;
  static constexpr double kHeldMm = 3;  // a contact within this of its mean is held

  void SetGeometry(const TouchGeometry& g) { geometry_ = g; }
  void Add(const TouchReport& report);
  void Clear() { contacts_.clear(); }

  struct Figures {
    int id = 0;
    double hz = 0;
    std::optional<double> jitterMm;  // held contacts only (and only with millimetres)
  };
  // Contacts reported within the last window, by id.
  std::vector<Figures> Now(int64_t nowUs) const;

 private:
  TouchGeometry geometry_;
  std::map<int, std::deque<StrokePoint>> contacts_;
};

// A grid of targets on the panel (3 x 3 by default) at 10 %, 50 % and 90 % of each side,
// tapped one after the other.
class TargetGrid {
 public:
  TargetGrid(const TouchGeometry& g, const TouchLimits& limits, int columns = 3, int rows = 3);

  struct Target {
    double x = 0, y = 0;             // panel units
    std::optional<double> errorMm;   // once tapped
    bool pass = false;
    bool edge = false;               // judged by the edge limit
  };
  const std::vector<Target>& Targets() const { return targets_; }
  int Current() const { return current_; }  // -1 when every target was tapped
  // A tap at (x, y) in panel units is the current target's; true when one took it.
  bool Tap(double x, double y);
  // Taps are taken from coordinate reports: the mean position of a contact from its
  // first report down to its lift.
  void Add(const TouchReport& report);
  void Restart();
  int Passed() const;
  double LimitMm(const Target& t) const;

 private:
  TouchGeometry geometry_;
  TouchLimits limits_;
  std::vector<Target> targets_;
  int current_ = 0;
  std::map<int, std::pair<int, std::pair<double, double>>> taps_;  // id: count, sums
};

}  // namespace analysis
