// Process capability of one figure against its limits: Cp = (USL - LSL) / 6 sigma,
// Cpk = the nearer limit's distance from the mean / 3 sigma. One-sided limits give Cpk only.
#pragma once

#include <optional>

namespace analysis {

struct Capability {
  long n = 0;
  double mean = 0;
  double sd = 0;  // sample standard deviation (n - 1)
  std::optional<double> cp, cpk;
};

// From the count, the sum and the sum of squares of the values (what a database keeps).
Capability CapabilityFromSums(long n, double sum, double sumSquares, std::optional<double> low,
                              std::optional<double> high);
// From a mean and a standard deviation.
Capability CapabilityOf(long n, double mean, double sd, std::optional<double> low,
                        std::optional<double> high);

// Where a Cpk stands: "capable" (>= 1.67), "adequate" (>= 1.33) or "not capable".
const char* CpkClass(double cpk);

}  // namespace analysis
