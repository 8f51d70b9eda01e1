#include "analysis/RobustStats.h"

#include <algorithm>
#include <cmath>

namespace analysis {

double Median(std::vector<double> v) {
  return Percentile(std::move(v), 50);
}

double RobustSigma(const std::vector<double>& v) {
  if (v.empty()) return 0;
  const double m = Median(v);
  std::vector<double> dev;
  dev.reserve(v.size());
  for (double x : v) dev.push_back(std::fabs(x - m));
  return 1.4826 * Median(std::move(dev));
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const double at = std::clamp(p, 0.0, 100.0) / 100.0 * double(v.size() - 1);
  const size_t lo = static_cast<size_t>(std::floor(at));
  const size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (v[hi] - v[lo]) * (at - double(lo));
}

double NormalTwoSidedTail(double k) {
  return std::erfc(std::fabs(k) / std::sqrt(2.0));
}

double NormalQuantile(double p) {
  // Bisection on the distribution function: plenty fast for a few calls a learning.
  double lo = -40, hi = 40;
  for (int i = 0; i < 200 && hi - lo > 1e-12; ++i) {
    const double mid = (lo + hi) / 2;
    (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? lo : hi) = mid;
  }
  return (lo + hi) / 2;
}

}  // namespace analysis
