#include "analysis/TouchLive.h"

#include <algorithm>
#include <cmath>

#include "analysis/TouchTests.h"

namespace analysis {

void LiveTouchFigures::Add(const TouchReport& r) {
  for (int k = 0; k < r.count; ++k) {
    const TouchContact& c = r.contacts[static_cast<size_t>(k)];
    if (c.state != TipState::kDown) continue;
    auto& d = contacts_[c.id];
    d.push_back(StrokePoint{r.us, c.x, c.y});
    while (!d.empty() && d.front().us < r.us - kWindowUs) d.pop_front();
  }
  for (auto it = contacts_.begin(); it != contacts_.end();) {
    if (it->second.empty() || it->second.back().us < r.us - kWindowUs)
      it = contacts_.erase(it);
    else
      ++it;
  }
}

std::vector<LiveTouchFigures::Figures> LiveTouchFigures::Now(int64_t nowUs) const {
  std::vector<Figures> out;
  for (const auto& [id, d] : contacts_) {
    if (d.empty() || d.back().us < nowUs - kWindowUs / 2) continue;  // lifted or gone
    Figures f;
    f.id = id;
    size_t first = 0;
    while (first < d.size() && d[first].us < nowUs - kWindowUs) ++first;
    const size_t n = d.size() - first;
    if (n >= 2 && d.back().us > d[first].us)
      f.hz = static_cast<double>(n - 1) * 1e6 / static_cast<double>(d.back().us - d[first].us);
    if (geometry_.HasMm() && n >= 2) {
      const double worst =
          SpreadMm(d.begin() + static_cast<std::ptrdiff_t>(first), d.end(), geometry_);
      if (worst <= kHeldMm) f.jitterMm = worst;
    }
    out.push_back(f);
  }
  return out;
}

TargetGrid::TargetGrid(const TouchGeometry& g, const TouchLimits& limits, int columns, int rows)
    : geometry_(g), limits_(limits) {
  auto at = [](int i, int n) { return n <= 1 ? 0.5 : 0.1 + 0.8 * i / (n - 1); };
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      Target t;
      t.x = at(c, columns) * g.xRange;
      t.y = at(r, rows) * g.yRange;
      t.edge = g.HasMm() && g.EdgeDistanceMm(g.XMm(t.x), g.YMm(t.y)) < limits.edgeMm;
      targets_.push_back(t);
    }
  }
}

double TargetGrid::LimitMm(const Target& t) const {
  return t.edge ? limits_.accuracyEdgeMaxMm : limits_.accuracyMaxMm;
}

void TargetGrid::Restart() {
  for (Target& t : targets_) {
    t.errorMm.reset();
    t.pass = false;
  }
  current_ = targets_.empty() ? -1 : 0;
  taps_.clear();
}

int TargetGrid::Passed() const {
  return static_cast<int>(std::count_if(targets_.begin(), targets_.end(),
                                        [](const Target& t) { return t.pass; }));
}

bool TargetGrid::Tap(double x, double y) {
  if (current_ < 0 || !geometry_.HasMm()) return false;
  Target& t = targets_[static_cast<size_t>(current_)];
  t.errorMm = std::hypot(geometry_.XMm(x - t.x), geometry_.YMm(y - t.y));
  // The error as shown (two decimals) decides.
  t.pass = std::round(*t.errorMm * 100) / 100 <= LimitMm(t);
  ++current_;
  if (current_ >= static_cast<int>(targets_.size())) current_ = -1;
  return true;
}

void TargetGrid::Add(const TouchReport& r) {
  for (int k = 0; k < r.count; ++k) {
    const TouchContact& c = r.contacts[static_cast<size_t>(k)];
    auto& tap = taps_[c.id];
    if (c.state == TipState::kDown) {
      ++tap.first;
      tap.second.first += c.x;
      tap.second.second += c.y;
    } else if (tap.first > 0) {
      Tap(tap.second.first / tap.first, tap.second.second / tap.first);
      taps_.erase(c.id);
    }
  }
}

}  // namespace analysis
