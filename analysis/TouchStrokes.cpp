#include "analysis/TouchStrokes.h"

#include <algorithm>
#include <cmath>

namespace analysis {

StrokeTracker::StrokeTracker(const TouchGeometry& geometry, int64_t staleUs)
    : geometry_(geometry), staleUs_(staleUs) {}

double StrokeTracker::Distance(double x0, double y0, double x1, double y1) const {
  if (geometry_.HasMm())
    return std::hypot(geometry_.XMm(x1 - x0), geometry_.YMm(y1 - y0));
  return std::hypot(x1 - x0, y1 - y0);
}

bool StrokeTracker::AnyDown() const {
  return !openIds_.empty();
}

void StrokeTracker::Close(int id, bool lifted) {
  Open& o = open_[static_cast<size_t>(id)];
  if (o.stroke < 0) return;
  strokes_[static_cast<size_t>(o.stroke)].lifted = lifted;
  o.stroke = -1;
  openIds_.erase(std::remove(openIds_.begin(), openIds_.end(), id), openIds_.end());
}

// Two contacts swapped ids when crossing the ids over fits the last positions far better
// than keeping them: each id jumped to where the other contact was.
void StrokeTracker::CheckSwaps(const TouchReport& r) {
  // A jump under this distance is movement, not a swap.
  const double minJump = geometry_.HasMm() ? 2.0 : 0.01 * std::max(geometry_.xRange, 1.0);
  for (int a = 0; a < r.count; ++a) {
    const TouchContact& ca = r.contacts[static_cast<size_t>(a)];
    if (ca.state != TipState::kDown || ca.id < 0 || ca.id >= kIds) continue;
    const Open& oa = open_[static_cast<size_t>(ca.id)];
    if (oa.stroke < 0) continue;
    for (int b = a + 1; b < r.count; ++b) {
      const TouchContact& cb = r.contacts[static_cast<size_t>(b)];
      if (cb.state != TipState::kDown || cb.id < 0 || cb.id >= kIds || cb.id == ca.id) continue;
      const Open& ob = open_[static_cast<size_t>(cb.id)];
      if (ob.stroke < 0) continue;
      const double kept = Distance(oa.x, oa.y, ca.x, ca.y) + Distance(ob.x, ob.y, cb.x, cb.y);
      const double crossed = Distance(oa.x, oa.y, cb.x, cb.y) + Distance(ob.x, ob.y, ca.x, ca.y);
      if (kept > 2 * minJump && crossed < kept / 4) {
        ++idSwaps_;
        ++strokes_[static_cast<size_t>(oa.stroke)].idSwaps;
        ++strokes_[static_cast<size_t>(ob.stroke)].idSwaps;
      }
    }
  }
}

void StrokeTracker::Add(const TouchReport& r) {
  ++reports_;
  CheckSwaps(r);
  int down = 0;
  for (int k = 0; k < r.count; ++k) {
    const TouchContact& c = r.contacts[static_cast<size_t>(k)];
    if (c.id < 0 || c.id >= kIds) continue;
    Open& o = open_[static_cast<size_t>(c.id)];
    if (c.state != TipState::kDown) {
      Close(c.id, true);
      continue;
    }
    ++down;
    if (o.stroke < 0) {
      Stroke s;
      s.index = static_cast<int>(strokes_.size()) + 1;
      s.id = c.id;
      strokes_.push_back(std::move(s));
      o.stroke = static_cast<int>(strokes_.size()) - 1;
      openIds_.push_back(c.id);
    }
    strokes_[static_cast<size_t>(o.stroke)].points.push_back(StrokePoint{r.us, c.x, c.y});
    o.lastUs = r.us;
    o.x = c.x;
    o.y = c.y;
    for (int j = 0; j < k; ++j) {
      const TouchContact& d = r.contacts[static_cast<size_t>(j)];
      if (d.state != TipState::kDown || d.id == c.id || !geometry_.HasMm()) continue;
      const double mm = Distance(c.x, c.y, d.x, d.y);
      if (closestMm_ < 0 || mm < closestMm_) {
        closestMm_ = mm;
        closestA_ = std::min(c.id, d.id);
        closestB_ = std::max(c.id, d.id);
      }
    }
  }
  // Serial controllers report one contact a report: simultaneous contacts are the open ones.
  maxSimultaneous_ = std::max({maxSimultaneous_, down, static_cast<int>(openIds_.size())});
  for (size_t i = 0; i < openIds_.size();) {
    const int id = openIds_[i];
    if (r.us - open_[static_cast<size_t>(id)].lastUs > staleUs_) {
      Close(id, false);
      continue;
    }
    ++i;
  }
}

void StrokeTracker::Finish() {
  while (!openIds_.empty()) Close(openIds_.back(), false);
}

}  // namespace analysis
