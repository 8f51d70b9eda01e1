#include "sim/TouchScript.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tpcsim {

void TouchScript::Start(int finger, const FingerPath& path, int64_t nowUs) {
  if (finger < 0 || finger >= kFingers) return;
  Finger& f = fingers_[finger];
  f.phase = Phase::Down;
  f.path = path;
  if (f.path.durationUs <= 0) f.path.durationUs = 1;
  f.startUs = nowUs;
  f.liftUs = -1;
  f.last = At(f, nowUs);
}

void TouchScript::Lift(int finger, int64_t nowUs) {
  if (finger < 0 || finger >= kFingers) return;
  Finger& f = fingers_[finger];
  if (f.phase == Phase::Down && f.liftUs < 0) f.liftUs = nowUs;
}

void TouchScript::LiftAll(int64_t nowUs) {
  for (int i = 0; i < kFingers; ++i) Lift(i, nowUs);
}

void TouchScript::SetRange(uint16_t xMax, uint16_t yMax) {
  xMax_ = xMax;
  yMax_ = yMax;
}

bool TouchScript::Ended(const Finger& f, int64_t nowUs) const {
  if (f.liftUs >= 0 && nowUs >= f.liftUs) return true;
  if (f.path.kind == FingerPath::Kind::Hold) return false;
  return nowUs >= f.startUs + f.path.durationUs;
}

FingerPoint TouchScript::At(const Finger& f, int64_t nowUs) const {
  const FingerPath& p = f.path;
  double t = std::clamp(static_cast<double>(nowUs - f.startUs) / p.durationUs, 0.0, 1.0);
  double x = p.x0, y = p.y0;
  switch (p.kind) {
    case FingerPath::Kind::Line:
      x = p.x0 + (p.x1 - p.x0) * t;
      y = p.y0 + (p.y1 - p.y0) * t;
      break;
    case FingerPath::Kind::Circle: {
      double a = 2 * std::numbers::pi * p.turns * t;
      x = p.x0 + p.radius * std::cos(a);
      y = p.y0 + p.radius * std::sin(a);
      break;
    }
    case FingerPath::Kind::Tap:
    case FingerPath::Kind::Hold:
      break;
  }
  FingerPoint pt;
  pt.x = static_cast<uint16_t>(std::clamp(std::lround(x), 0L, static_cast<long>(xMax_)));
  pt.y = static_cast<uint16_t>(std::clamp(std::lround(y), 0L, static_cast<long>(yMax_)));
  return pt;
}

int TouchScript::Take(int64_t nowUs, std::array<Sample, kFingers>& out) {
  int n = 0;
  for (int i = 0; i < kFingers; ++i) {
    Finger& f = fingers_[i];
    switch (f.phase) {
      case Phase::Idle:
        continue;
      case Phase::Down:
        if (Ended(f, nowUs)) {
          // The lift is reported where the path ended.
          int64_t end = f.liftUs >= 0 ? std::min(f.liftUs, nowUs) : f.startUs + f.path.durationUs;
          f.last = At(f, end);
          f.phase = Phase::Lifted;
        } else {
          f.last = At(f, nowUs);
        }
        break;
      case Phase::Lifted:
        f.phase = Phase::Cleared;
        break;
      case Phase::Cleared:
        f.phase = Phase::Idle;
        continue;
    }
    out[n++] = Sample{i, f.phase, f.last};
  }
  return n;
}

bool TouchScript::AnyActive() const {
  return std::any_of(fingers_.begin(), fingers_.end(),
                     [](const Finger& f) { return f.phase != Phase::Idle; });
}

std::optional<FingerPoint> TouchScript::Position(int finger, int64_t nowUs) const {
  if (finger < 0 || finger >= kFingers) return std::nullopt;
  const Finger& f = fingers_[finger];
  if (f.phase != Phase::Down || Ended(f, nowUs)) return std::nullopt;
  return At(f, nowUs);
}

}  // namespace tpcsim
