#include "analysis/Capability.h"

#include <algorithm>
#include <cmath>

namespace analysis {

Capability CapabilityFromSums(long n, double sum, double sumSquares, std::optional<double> low,
                              std::optional<double> high) {
  if (n <= 0) return {};
  const double mean = sum / double(n);
  // Sum of squared deviations, never below 0 from rounding.
  const double ss = std::max(0.0, sumSquares - sum * mean);
  const double sd = n > 1 ? std::sqrt(ss / double(n - 1)) : 0;
  return CapabilityOf(n, mean, sd, low, high);
}

Capability CapabilityOf(long n, double mean, double sd, std::optional<double> low,
                        std::optional<double> high) {
  Capability c;
  c.n = n;
  c.mean = mean;
  c.sd = sd;
  if (n < 2 || !(sd > 0) || (!low && !high)) return c;
  if (low && high) c.cp = (*high - *low) / (6 * sd);
  std::optional<double> upper, lower;
  if (high) upper = (*high - mean) / (3 * sd);
  if (low) lower = (mean - *low) / (3 * sd);
  c.cpk = upper && lower ? std::min(*upper, *lower) : upper ? *upper : *lower;
  return c;
}

const char* CpkClass(double cpk) {
  return cpk >= 1.67 ? "capable" : cpk >= 1.33 ? "adequate" : "not capable";
}

}  // namespace analysis
