#include "sim/TouchDefects.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace tpcsim {

namespace {
using Phase = TouchScript::Phase;
// A line a tenth of the height in from an edge, drawn from 5 % to 95 % of the width,
// strays from its best straight fit by 2/3 * 0.8 * 0.9^2 of this gain times the depth.
constexpr double kPincushionGain = 1.0 / (2.0 / 3.0 * 0.8 * 0.81);
constexpr int64_t kGhostCycleUs = 500'000;
constexpr int64_t kGhostDownUs = 40'000;
constexpr int64_t kConductedGhostCycleUs = 100'000;
}  // namespace

bool TouchDefectSettings::Any() const {
  return noiseMm > 0 || pincushionMm > 0 || offsetXMm != 0 || offsetYMm != 0 || dropCount > 0 ||
         ghosts > 0 || noiseGhosts > 0 || swapA >= 0 || mergeMm > 0;
}

std::string TouchDefectSettings::Text() const {
  if (!Any()) return "off";
  char b[256];
  std::snprintf(b, sizeof b,
                "noise=%g,pincushion=%g,offset=%g/%g,drop=%d/%d,ghost=%d,noise-ghost=%d,swap=%d/%d,"
                "merge=%g",
                noiseMm, pincushionMm, offsetXMm, offsetYMm, dropCount, dropEvery, ghosts,
                noiseGhosts, swapA, swapB, mergeMm);
  return b;
}

void TouchDefects::SetPanel(double widthMm, double heightMm, uint16_t xMax, uint16_t yMax) {
  widthMm_ = widthMm;
  heightMm_ = heightMm;
  xMax_ = std::max<uint16_t>(xMax, 1);
  yMax_ = std::max<uint16_t>(yMax, 1);
}

FingerPoint TouchDefects::Clamp(double x, double y) const {
  FingerPoint p;
  p.x = static_cast<uint16_t>(std::clamp(std::lround(x), 0L, static_cast<long>(xMax_)));
  p.y = static_cast<uint16_t>(std::clamp(std::lround(y), 0L, static_cast<long>(yMax_)));
  return p;
}

void TouchDefects::Distort(TouchScript::Sample& s) {
  const double ux = xMax_ / widthMm_, uy = yMax_ / heightMm_;  // units per mm
  double x = s.point.x, y = s.point.y;
  if (s_.pincushionMm > 0) {
    const double xn = (x - xMax_ / 2.0) / (xMax_ / 2.0), yn = (y - yMax_ / 2.0) / (yMax_ / 2.0);
    x += kPincushionGain * s_.pincushionMm * xn * yn * yn * ux;
    y += kPincushionGain * s_.pincushionMm * yn * xn * xn * uy;
  }
  x += s_.offsetXMm * ux;
  y += s_.offsetYMm * uy;
  if (s_.noiseMm + conductedMm_ > 0) {
    std::uniform_real_distribution<double> u(0, 1);
    const double r = (s_.noiseMm + conductedMm_) * std::sqrt(u(rng_)),
                 a = 2 * std::numbers::pi * u(rng_);
    x += r * std::cos(a) * ux;
    y += r * std::sin(a) * uy;
  }
  s.point = Clamp(x, y);
}

// The second of two contacts closer than the merge distance is lifted once and then left
// out; the first is reported half way between them. It comes back when they part.
void TouchDefects::Merge(std::vector<TouchScript::Sample>& samples) {
  const double ux = xMax_ / widthMm_, uy = yMax_ / heightMm_;
  std::vector<TouchScript::Sample> out;
  for (size_t j = 0; j < samples.size(); ++j) {
    TouchScript::Sample& b = samples[j];
    const uint32_t bit = 1u << b.finger;
    bool folded = false;
    if (b.phase == Phase::Down) {
      for (size_t i = 0; i < j && !folded; ++i) {
        TouchScript::Sample& a = samples[i];
        if (a.phase != Phase::Down) continue;
        const double d = std::hypot((a.point.x - b.point.x) / ux, (a.point.y - b.point.y) / uy);
        if (d >= s_.mergeMm) continue;
        a.point = Clamp((a.point.x + b.point.x) / 2.0, (a.point.y + b.point.y) / 2.0);
        folded = true;
      }
    }
    if (folded) {
      if (!(merged_ & bit)) {
        merged_ |= bit;
        out.push_back(TouchScript::Sample{b.finger, Phase::Lifted, b.point});
      }
      continue;
    }
    if (merged_ & bit) {
      if (b.phase != Phase::Down) continue;  // its lift was reported when it merged
      merged_ &= ~bit;
    }
    out.push_back(b);
  }
  samples.swap(out);
}

void TouchDefects::AddGhosts(int64_t nowUs, std::vector<TouchScript::Sample>& samples) {
  const int ghosts = Ghosts();
  if (ghosts <= 0 && !ghostsDown_) return;
  // Ghosts of conducted noise flicker faster than those of the panel itself.
  const int64_t period = conductedGhosts_ > 0 ? kConductedGhostCycleUs : kGhostCycleUs;
  const int64_t cycle = nowUs / period;
  const bool down = ghosts > 0 && nowUs % period < kGhostDownUs;
  Phase phase;
  if (down) {
    if (cycle != ghostCycle_) {
      ghostCycle_ = cycle;
      ghostPhase_ = 0;
    }
    phase = Phase::Down;
    ghostPhase_ = 1;
    ghostsShown_ = std::max(ghostsShown_, ghosts);
  } else if (ghostPhase_ == 1) {
    phase = Phase::Lifted;
    ghostPhase_ = 2;
  } else if (ghostPhase_ == 2) {
    phase = Phase::Cleared;
    ghostPhase_ = 0;
  } else {
    ghostsDown_ = false;
    ghostsShown_ = 0;
    return;
  }
  ghostsDown_ = true;
  // Every ghost that went down is lifted, also when their number fell meanwhile.
  for (int g = 0; g < ghostsShown_; ++g) {
    // A fixed place per ghost and cycle, away from the edges.
    std::uniform_real_distribution<double> u(0.1, 0.9);
    std::mt19937 place(static_cast<uint32_t>(ghostCycle_ * 31 + g));
    samples.push_back(TouchScript::Sample{kGhostId + g, phase,
                                          Clamp(u(place) * xMax_, u(place) * yMax_)});
  }
}

bool TouchDefects::Apply(int64_t nowUs, std::vector<TouchScript::Sample>& samples) {
  const uint64_t k = reports_++;
  for (TouchScript::Sample& s : samples)
    if (s.phase != Phase::Cleared) Distort(s);
  if (s_.mergeMm > 0 || merged_) Merge(samples);
  AddGhosts(nowUs, samples);
  if (s_.swapA >= 0)
    for (TouchScript::Sample& s : samples)
      s.finger = s.finger == s_.swapA ? s_.swapB : s.finger == s_.swapB ? s_.swapA : s.finger;
  if (s_.dropCount > 0 && s_.dropEvery > 0 &&
      k % static_cast<uint64_t>(s_.dropEvery) >= static_cast<uint64_t>(s_.dropEvery - s_.dropCount))
    return false;
  return !samples.empty();
}

}  // namespace tpcsim
