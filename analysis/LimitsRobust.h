// Limits learnt robustly from many golden panels: each figure's median across the panels
// and a margin of k robust standard deviations (1.4826 x MAD), so that a few odd panels
// move nothing; with the expected share of good units the limits would fail.
#pragma once

#include <string>
#include <vector>

#include "analysis/LimitsLearn.h"

namespace analysis {

// The robust standard deviation: 1.4826 x MAD, or the distance between two percentiles
// over the normal distribution's distance between them.
enum class Spread { kMad, kPercentile };

struct RobustMargins {
  double k = 5;      // robust standard deviations from the median
  double floor = 2;  // every margin at least this many counts (a tenth of it for stddev)
  Spread spread = Spread::kMad;
  double low = 25, high = 75;  // the percentiles of Spread::kPercentile
};

// A sample's robust standard deviation by the margins' spread.
double SpreadSigma(const std::vector<double>& v, const RobustMargins& m);
// False with why when the percentiles are not 0 < low < high < 100.
bool ValidSpread(const RobustMargins& m, std::string& why);
// How limits are learnt with these margins, for the limits file's note (one sentence).
std::string RobustMethodText(const RobustMargins& m);

// One electrode: mean within median +- margin, p2p and stddev below median + margin.
// tail: receives the expected chance that a good panel fails one of the three (normal
// figures, independent).
LimitValues LearnElectrodeRobust(const std::vector<ElectrodeSummary>& panels,
                                 const RobustMargins& m, double* tail = nullptr);

struct RobustSummary {
  int panels = 0;
  double falseFailRate = 0;  // expected share of good units failing the whole file
};

// As LearnFromPanels, robustly; the summary says from how many panels and at what
// expected false-fail rate.
bool LearnRobust(const std::vector<PanelRun>& runs, const RobustMargins& m,
                 const std::vector<ElectrodeSelector>& unused, Limits& out, RobustSummary& summary,
                 std::string& why);

}  // namespace analysis
