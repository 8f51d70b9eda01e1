// The noise sweep as one self-contained HTML page: noise, signal-to-noise ratio, ghosts
// and jitter against frequency on a log axis with the failing bands shaded, a map of
// every electrode's noise over the frequencies, and the tables behind them. Inline SVG,
// no script, nothing fetched.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "analysis/NoiseSweep.h"
#include "analysis/SweepPoints.h"

namespace analysis {

struct SweepPage {
  std::string verdict;                                      // "PASS", "FAIL", "NOT MEASURED"
  std::vector<std::pair<std::string, std::string>> facts;   // shown at the top, in order
  const SweepPoints* points = nullptr;  // each with its verdict, read as the page is written
  ScanLayout layout;
  NoiseLimits limits;
  bool held = false;
};

// Contiguous runs of failing points: first and last frequency of each.
std::vector<std::pair<double, double>> FailingBands(const SweepPoints& points);

// The page, written as the points are read (false: they could not be read back).
bool WriteNoiseSweepHtml(std::ostream& out, const SweepPage& page);

}  // namespace analysis
