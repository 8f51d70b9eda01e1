// Strokes from coordinate reports: a stroke is one contact id from its first report
// down to its lift (or to its disappearance). Also counts simultaneous contacts, id swaps
// between contacts and the closest two contacts came while still reported as two.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "analysis/TouchLimits.h"
#include "analysis/TouchReport.h"

namespace analysis {

struct StrokePoint {
  int64_t us = 0;
  double x = 0, y = 0;  // panel units
};

struct Stroke {
  int index = 0;  // 1-based, in order of start
  int id = 0;     // contact id
  std::vector<StrokePoint> points;
  bool lifted = false;  // ended by a lift report (not by disappearing)
  int idSwaps = 0;      // reports where this contact's id went to another contact
};

class StrokeTracker {
 public:
  // A contact not reported for staleUs while others are ends its stroke unlifted.
  explicit StrokeTracker(const TouchGeometry& geometry, int64_t staleUs = 250'000);

  void Add(const TouchReport& report);
  // Ends the strokes still open (the end of a run).
  void Finish();

  const std::vector<Stroke>& Strokes() const { return strokes_; }
  uint64_t Reports() const { return reports_; }
  int MaxSimultaneous() const { return maxSimultaneous_; }
  int IdSwaps() const { return idSwaps_; }
  // Smallest centre distance in millimetres of two contacts down in one report (negative:
  // never two at once, or no millimetres), with their ids.
  double ClosestPairMm() const { return closestMm_; }
  int ClosestA() const { return closestA_; }
  int ClosestB() const { return closestB_; }
  bool AnyDown() const;

 private:
  static constexpr int kIds = 256;
  struct Open {
    int stroke = -1;  // index into strokes_, -1 when none
    int64_t lastUs = 0;
    double x = 0, y = 0;
  };
  double Distance(double x0, double y0, double x1, double y1) const;
  void Close(int id, bool lifted);
  void CheckSwaps(const TouchReport& r);

  TouchGeometry geometry_;
  int64_t staleUs_;
  std::vector<Stroke> strokes_;
  std::array<Open, kIds> open_{};
  std::vector<int> openIds_;
  uint64_t reports_ = 0;
  int maxSimultaneous_ = 0;
  int idSwaps_ = 0;
  double closestMm_ = -1;
  int closestA_ = -1, closestB_ = -1;
};

}  // namespace analysis
