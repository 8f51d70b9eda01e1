#include "analysis/GaugeStudy.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace analysis {

namespace {

// Continued fraction of the regularised incomplete beta function (Lentz's method).
double BetaFraction(double a, double b, double x) {
  const double tiny = 1e-300;
  double c = 1, d = 1 - (a + b) * x / (a + 1);
  d = 1 / (std::fabs(d) < tiny ? tiny : d);
  double h = d;
  for (int m = 1; m <= 300; ++m) {
    const double m2 = 2.0 * m;
    double aa = m * (b - m) * x / ((a + m2 - 1) * (a + m2));
    d = 1 + aa * d;
    d = 1 / (std::fabs(d) < tiny ? tiny : d);
    c = 1 + aa / c;
    c = std::fabs(c) < tiny ? tiny : c;
    h *= d * c;
    aa = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1));
    d = 1 + aa * d;
    d = 1 / (std::fabs(d) < tiny ? tiny : d);
    c = 1 + aa / c;
    c = std::fabs(c) < tiny ? tiny : c;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1) < 1e-14) break;
  }
  return h;
}

// I_x(a, b).
double IncompleteBeta(double a, double b, double x) {
  if (x <= 0) return 0;
  if (x >= 1) return 1;
  const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) +
                                a * std::log(x) + b * std::log1p(-x));
  if (x < (a + 1) / (a + b + 2)) return front * BetaFraction(a, b, x) / a;
  return 1 - front * BetaFraction(b, a, 1 - x) / b;
}

}  // namespace

double FUpperTail(double f, double d1, double d2) {
  if (!(f > 0)) return 1;
  return IncompleteBeta(d2 / 2, d1 / 2, d2 / (d2 + d1 * f));
}

namespace {

// The measurements summed per cell (part x station), in the order of the sorted names.
struct GaugeCells {
  std::map<std::string, int> parts, stations;
  std::vector<double> sum;
  std::vector<int> count;
  double grand = 0;  // sum of all values, then their mean
  int P = 0, S = 0, T = 0;
};

// Numbers the parts and stations by name; false with why when there are too few.
bool IndexDesign(const std::vector<GaugeMeasurement>& m, GaugeCells& g, std::string& why) {
  for (const auto& x : m) {
    g.parts.emplace(x.part, 0);
    g.stations.emplace(x.station, 0);
  }
  int i = 0;
  for (auto& [name, index] : g.parts) index = i++;
  i = 0;
  for (auto& [name, index] : g.stations) index = i++;
  g.P = int(g.parts.size());
  g.S = int(g.stations.size());
  if (g.P < 2 || g.S < 1) {
    why = "a gauge study needs at least 2 parts and 1 station";
    return false;
  }
  return true;
}

void SumCells(const std::vector<GaugeMeasurement>& m, GaugeCells& g) {
  g.sum.assign(size_t(g.P * g.S), 0);
  g.count.assign(size_t(g.P * g.S), 0);
  for (const auto& x : m) {
    const size_t c = size_t(g.parts[x.part] * g.S + g.stations[x.station]);
    g.sum[c] += x.value;
    ++g.count[c];
    g.grand += x.value;
  }
}

// Every cell holds the same number of trials, at least 2; false with why.
bool CheckBalanced(GaugeCells& g, std::string& why) {
  const int T = g.count[0];
  for (size_t c = 0; c < g.count.size(); ++c)
    if (g.count[c] != T) {
      why = "every part must be measured the same number of times at every station (part " +
            std::next(g.parts.begin(), long(c) / g.S)->first + " at station " +
            std::next(g.stations.begin(), long(c) % g.S)->first + ": " +
            std::to_string(g.count[c]) + " of " + std::to_string(T) + ")";
      return false;
    }
  if (T < 2) {
    why = "a gauge study needs at least 2 trials of every part at every station";
    return false;
  }
  g.T = T;
  return true;
}

// The ANOVA table: sums of squares and degrees of freedom.
void AnovaTable(const std::vector<GaugeMeasurement>& m, GaugeCells& g, GaugeResult& r) {
  const int P = g.P, S = g.S, T = g.T;
  const double N = double(m.size());
  g.grand /= N;
  const double grand = g.grand;
  std::vector<double> partMean(size_t(P), 0), stationMean(size_t(S), 0);
  for (int p = 0; p < P; ++p)
    for (int s = 0; s < S; ++s) {
      partMean[size_t(p)] += g.sum[size_t(p * S + s)] / (double(S) * T);
      stationMean[size_t(s)] += g.sum[size_t(p * S + s)] / (double(P) * T);
    }
  for (double v : partMean) r.ssPart += double(S) * T * (v - grand) * (v - grand);
  for (double v : stationMean) r.ssStation += double(P) * T * (v - grand) * (v - grand);
  double ssCells = 0;
  for (size_t c = 0; c < g.sum.size(); ++c) {
    const double d = g.sum[c] / T - grand;
    ssCells += T * d * d;
  }
  for (const auto& x : m) r.ssTotal += (x.value - grand) * (x.value - grand);
  r.ssInteraction = std::max(0.0, ssCells - r.ssPart - r.ssStation);
  r.ssError = std::max(0.0, r.ssTotal - ssCells);
  r.parts = P;
  r.stations = S;
  r.trials = T;
  r.dfPart = P - 1;
  r.dfStation = S - 1;
  r.dfInteraction = (P - 1) * (S - 1);
  r.dfError = P * S * (T - 1);
}

// Variance components from the mean squares; the interaction is pooled into
// repeatability when it is not significant.
void VarianceComponents(const GaugeOptions& o, GaugeResult& r) {
  const int P = r.parts, S = r.stations, T = r.trials;
  const double msPart = r.ssPart / r.dfPart;
  const double msStation = r.dfStation ? r.ssStation / r.dfStation : 0;
  const double msError = r.ssError / r.dfError;
  double msInteraction = 0;
  if (r.dfInteraction > 0) {
    msInteraction = r.ssInteraction / r.dfInteraction;
    r.pInteraction = msError > 0 ? FUpperTail(msInteraction / msError, r.dfInteraction, r.dfError)
                                 : (msInteraction > 0 ? 0 : 1);
  }
  r.pooled = r.dfInteraction == 0 || (o.poolAlpha > 0 && r.pInteraction >= o.poolAlpha);
  if (r.pooled) {
    const double ms = (r.ssInteraction + r.ssError) / (r.dfInteraction + r.dfError);
    r.repeatability = ms;
    r.station = std::max(0.0, (msStation - ms) / (double(P) * T));
    r.part = std::max(0.0, (msPart - ms) / (double(S) * T));
  } else {
    r.repeatability = msError;
    r.station = std::max(0.0, (msStation - msInteraction) / (double(P) * T));
    r.interaction = std::max(0.0, (msInteraction - msError) / T);
    r.part = std::max(0.0, (msPart - msInteraction) / (double(S) * T));
  }
}

// %GRR of the total and of the tolerance, distinct categories.
void GrrFigures(const GaugeOptions& o, GaugeResult& r) {
  r.reproducibility = r.station + r.interaction;
  r.grr = r.repeatability + r.reproducibility;
  r.total = r.grr + r.part;
  r.grrOfTotal = r.total > 0 ? 100 * std::sqrt(r.grr / r.total) : 0;
  if (o.tolerance && *o.tolerance > 0)
    r.grrOfTolerance = 100 * o.spread * std::sqrt(r.grr) / *o.tolerance;
  r.distinctCategories =
      r.grr > 0 ? std::max(1, int(std::floor(1.41 * std::sqrt(r.part / r.grr)))) : 0;
}

}  // namespace

bool StudyGauge(const std::vector<GaugeMeasurement>& m, const GaugeOptions& o, GaugeResult& r,
                std::string& why) {
  r = GaugeResult{};
  GaugeCells g;
  if (!IndexDesign(m, g, why)) return false;
  SumCells(m, g);
  if (!CheckBalanced(g, why)) return false;
  AnovaTable(m, g, r);
  VarianceComponents(o, r);
  GrrFigures(o, r);
  return true;
}

const char* GrrClass(double percent) {
  return percent < 10 ? "acceptable" : percent <= 30 ? "conditional" : "not acceptable";
}

}  // namespace analysis
