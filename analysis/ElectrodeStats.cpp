#include "analysis/ElectrodeStats.h"

#include <algorithm>
#include <cmath>

namespace analysis {

ElectrodeStats::ElectrodeStats(ScanLayout layout, StreamKind kind, StatsOptions options)
    : layout_(layout), kind_(kind), options_(options) {
  Reset();
}

void ElectrodeStats::Reset() {
  const size_t n = static_cast<size_t>(layout_.Size());
  n_ = quietScans_ = touchedScans_ = 0;
  mean_.assign(n, 0);
  m2_.assign(n, 0);
  min_.assign(n, std::numeric_limits<int32_t>::max());
  max_.assign(n, std::numeric_limits<int32_t>::min());
  if (kind_ == StreamKind::kSignal) {
    quietMean_.assign(n, 0);
    quietM2_.assign(n, 0);
    touchSum_.assign(n, 0);
    touchCount_.assign(n, 0);
  }
}

namespace {
// One Welford step for every electrode; inv = 1 / (number of scans including this one).
void Welford(std::span<const int32_t> scan, double inv, double* mean, double* m2) {
  const size_t n = scan.size();
  for (size_t i = 0; i < n; ++i) {
    const double x = scan[i];
    const double d = x - mean[i];
    mean[i] += d * inv;
    m2[i] += d * (x - mean[i]);
  }
}
}  // namespace

void ElectrodeStats::Add(std::span<const int32_t> scan) {
  const size_t n = std::min(scan.size(), mean_.size());
  scan = scan.first(n);
  ++n_;
  Welford(scan, 1.0 / static_cast<double>(n_), mean_.data(), m2_.data());
  for (size_t i = 0; i < n; ++i) {
    min_[i] = std::min(min_[i], scan[i]);
    max_[i] = std::max(max_[i], scan[i]);
  }
  if (kind_ != StreamKind::kSignal) return;
  const int32_t touchAt = options_.zeroLine + options_.touchThreshold;
  const int32_t peak = n ? *std::max_element(scan.begin(), scan.end()) : 0;
  if (peak < touchAt) {
    ++quietScans_;
    Welford(scan, 1.0 / static_cast<double>(quietScans_), quietMean_.data(), quietM2_.data());
    return;
  }
  ++touchedScans_;
  for (size_t i = 0; i < n; ++i) {
    if (scan[i] < touchAt) continue;
    touchSum_[i] += scan[i];
    ++touchCount_[i];
  }
}

ElectrodeSummary ElectrodeStats::Summary(int electrode) const {
  ElectrodeSummary s;
  const size_t i = static_cast<size_t>(electrode);
  if (n_ == 0 || i >= mean_.size()) return s;
  s.min = min_[i];
  s.max = max_[i];
  s.mean = mean_[i];
  s.stddev = std::sqrt(std::max(0.0, m2_[i] / static_cast<double>(n_)));
  s.p2p = max_[i] - min_[i];
  if (kind_ == StreamKind::kSignal && touchCount_[i] > 0 && quietScans_ > 0) {
    const double signal = touchSum_[i] / touchCount_[i] - quietMean_[i];
    const double noise = std::sqrt(std::max(0.0, quietM2_[i] / static_cast<double>(quietScans_)));
    s.snr = noise > 0 ? signal / noise : std::numeric_limits<double>::infinity();
  }
  if (kind_ == StreamKind::kOpenShort) {
    s.open = s.mean < options_.openBelow;
    s.shorted = s.mean > options_.shortAbove;
  }
  return s;
}

std::vector<ElectrodeSummary> ElectrodeStats::Summaries() const {
  std::vector<ElectrodeSummary> out;
  out.reserve(mean_.size());
  for (int i = 0; i < layout_.Size(); ++i) out.push_back(Summary(i));
  return out;
}

}  // namespace analysis
