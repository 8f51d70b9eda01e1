// Scripted fingers: where each of up to ten fingers is at a given time.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tpcsim {

struct FingerPath {
  enum class Kind { Tap, Line, Circle, Hold };
  Kind kind = Kind::Tap;
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // line ends, or tap/hold point
  double radius = 0;                      // circle around (x0, y0)
  int64_t durationUs = 100'000;           // whole script (a hold lasts until lifted)
  double turns = 1;                       // circle only
};

struct FingerPoint {
  uint16_t x = 0;
  uint16_t y = 0;
};

class TouchScript {
 public:
  static constexpr int kFingers = 10;

  // Phase of one finger at a report: Down while the path runs, Lifted once at its
  // end (the lift report), Cleared once after that (the no-touch report), then Idle.
  enum class Phase { Idle, Down, Lifted, Cleared };

  struct Sample {
    int finger;
    Phase phase;
    FingerPoint point;
  };

  void Start(int finger, const FingerPath& path, int64_t nowUs);
  void Lift(int finger, int64_t nowUs);
  void LiftAll(int64_t nowUs);
  // Limits for the coordinates (largest values).
  void SetRange(uint16_t xMax, uint16_t yMax);

  // Phase and point of every finger that takes part in the report at `nowUs`;
  // advances Lifted -> Cleared -> Idle as reports are taken.
  int Take(int64_t nowUs, std::array<Sample, kFingers>& out);
  bool AnyActive() const;
  // Position of a finger that is down (for the signal data bump).
  std::optional<FingerPoint> Position(int finger, int64_t nowUs) const;

 private:
  struct Finger {
    Phase phase = Phase::Idle;
    FingerPath path;
    int64_t startUs = 0;
    int64_t liftUs = -1;  // explicit lift time for holds
    FingerPoint last;
  };
  FingerPoint At(const Finger& f, int64_t nowUs) const;
  bool Ended(const Finger& f, int64_t nowUs) const;

  std::array<Finger, kFingers> fingers_{};
  uint16_t xMax_ = 0xFFFF;
  uint16_t yMax_ = 0xFFFF;
};

}  // namespace tpcsim
