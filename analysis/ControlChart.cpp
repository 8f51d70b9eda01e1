#include "analysis/ControlChart.h"

#include <cmath>

namespace analysis {

namespace {

// Whether at least `need` of the `window` values ending at i lie beyond `z` sigma on a side.
bool Beyond(const std::vector<double>& z, size_t i, size_t window, size_t need, double limit,
            bool high) {
  if (i + 1 < window) return false;
  size_t count = 0;
  for (size_t j = i + 1 - window; j <= i; ++j) count += high ? z[j] > limit : z[j] < -limit;
  return count >= need;
}

}  // namespace

std::vector<ChartSignal> WesternElectric(const std::vector<double>& x, double centre,
                                         double sigma) {
  std::vector<ChartSignal> out;
  if (!(sigma > 0)) return out;
  std::vector<double> z;
  z.reserve(x.size());
  for (double v : x) z.push_back((v - centre) / sigma);
  for (size_t i = 0; i < z.size(); ++i)
    for (bool high : {true, false}) {
      // The point itself must be on the rule's side, so each firing is new evidence.
      const bool side = high ? z[i] > 0 : z[i] < 0;
      if (!side) continue;
      int rule = 0;
      if (std::fabs(z[i]) > 3)
        rule = 1;
      else if (std::fabs(z[i]) > 2 && Beyond(z, i, 3, 2, 2, high))
        rule = 2;
      else if (std::fabs(z[i]) > 1 && Beyond(z, i, 5, 4, 1, high))
        rule = 3;
      else if (Beyond(z, i, 8, 8, 0, high))
        rule = 4;
      if (rule) out.push_back({i, rule, high});
    }
  return out;
}

Cusum TabularCusum(const std::vector<double>& x, double centre, double sigma, double k, double h) {
  Cusum c;
  double hi = 0, lo = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    hi = std::max(0.0, hi + x[i] - centre - k * sigma);
    lo = std::max(0.0, lo + centre - k * sigma - x[i]);
    c.high.push_back(hi);
    c.low.push_back(lo);
    if (sigma > 0 && (hi > h * sigma || lo > h * sigma))
      c.signals.push_back({i, 5, hi > h * sigma});
  }
  return c;
}

std::string RuleText(int rule) {
  switch (rule) {
    case 1:
      return "1 beyond 3σ";
    case 2:
      return "2 of 3 beyond 2σ";
    case 3:
      return "4 of 5 beyond 1σ";
    case 4:
      return "8 in a row on one side";
    case 5:
      return "CUSUM";
  }
  return "";
}

ChartSignal FirstSignal(const std::vector<ChartSignal>& a, const std::vector<ChartSignal>& b,
                        size_t size) {
  ChartSignal first{size, 0, true};
  for (const auto* list : {&a, &b})
    if (!list->empty() && list->front().index < first.index) first = list->front();
  return first;
}

}  // namespace analysis
