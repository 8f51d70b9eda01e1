// Control chart rules over a series of individual values against a reference centre and
// sigma: the Western Electric rules and a two-sided tabular CUSUM.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace analysis {

struct ChartSignal {
  size_t index = 0;  // the value at which the rule fired (0-based)
  int rule = 0;      // 1..4 for the Western Electric rules, 5 for the CUSUM
  bool high = true;  // above the centre
};

// 1: one value beyond 3 sigma; 2: 2 of 3 beyond 2 sigma on one side; 3: 4 of 5 beyond
// 1 sigma on one side; 4: 8 in a row on one side. Every value at which a rule holds.
std::vector<ChartSignal> WesternElectric(const std::vector<double>& x, double centre, double sigma);

struct Cusum {
  std::vector<double> high, low;     // the upper and lower sums, in data units
  std::vector<ChartSignal> signals;  // each value where a sum exceeds h sigma
};
// S_hi(i) = max(0, S_hi(i-1) + x_i - centre - k sigma), S_lo likewise below; a signal
// when a sum exceeds h sigma. The sums go on after a signal (no reset).
Cusum TabularCusum(const std::vector<double>& x, double centre, double sigma, double k = 0.5,
                   double h = 5);

// "1 beyond 3σ", ..., "CUSUM".
std::string RuleText(int rule);

// The first signal of the rules and the CUSUM together (index, rule); none: index = size.
ChartSignal FirstSignal(const std::vector<ChartSignal>& a, const std::vector<ChartSignal>& b,
                        size_t size);

}  // namespace analysis
