// A gauge study by the ANOVA method: P parts measured by each of S stations (or
// fixtures, operators) T times, crossed and balanced. Repeatability, reproducibility,
// %GRR against the tolerance and the total variation, distinct categories.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace analysis {

struct GaugeMeasurement {
  std::string part, station;
  double value = 0;
};

struct GaugeOptions {
  double spread = 6;        // study variation: 6 sigma (or 5.15)
  double poolAlpha = 0.25;  // the interaction is pooled into repeatability when its p >= this
                            // (0: never)
  std::optional<double> tolerance;  // USL - LSL, for %GRR against the tolerance
};

struct GaugeResult {
  int parts = 0, stations = 0, trials = 0;
  // The ANOVA table: parts, stations, interaction, repeatability (error), total.
  double ssPart = 0, ssStation = 0, ssInteraction = 0, ssError = 0, ssTotal = 0;
  int dfPart = 0, dfStation = 0, dfInteraction = 0, dfError = 0;
  double pInteraction = 1;  // of the F test of the interaction
  bool pooled = false;      // the interaction was pooled into repeatability
  // Variance components.
  double repeatability = 0, station = 0, interaction = 0, reproducibility = 0, grr = 0, part = 0,
         total = 0;
  double grrOfTotal = 0;                 // % of the total variation (standard deviations)
  std::optional<double> grrOfTolerance;  // % of the tolerance: spread x sigma_GRR / tolerance
  int distinctCategories = 0;            // floor(1.41 x sigma_part / sigma_GRR)
};

// False with why when the design is not crossed and balanced (every part at every station
// the same number of times, at least 2 parts, 1 station, 2 trials).
bool StudyGauge(const std::vector<GaugeMeasurement>& m, const GaugeOptions& o, GaugeResult& out,
                std::string& why);

// "acceptable" (< 10 %), "conditional" (10-30 %), "not acceptable" (> 30 %).
const char* GrrClass(double percent);

// The upper tail of the F distribution with d1 and d2 degrees of freedom at f.
double FUpperTail(double f, double d1, double d2);

}  // namespace analysis
