#include "analysis/LimitsRobust.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "analysis/LimitsCheck.h"
#include "analysis/RobustStats.h"

namespace analysis {

double SpreadSigma(const std::vector<double>& v, const RobustMargins& m) {
  if (m.spread == Spread::kMad) return RobustSigma(v);
  if (v.empty()) return 0;
  return (Percentile(v, m.high) - Percentile(v, m.low)) /
         (NormalQuantile(m.high / 100) - NormalQuantile(m.low / 100));
}

bool ValidSpread(const RobustMargins& m, std::string& why) {
  if (m.spread == Spread::kMad || (m.low > 0 && m.low < m.high && m.high < 100)) return true;
  why = "the percentiles must be two numbers, 0 < low < high < 100 (e.g. 25,75)";
  return false;
}

std::string RobustMethodText(const RobustMargins& m) {
  const std::string k = FormatNumber(m.k);
  std::string sigma = "1.4826 x MAD";
  std::string how;
  if (m.spread == Spread::kPercentile) {
    const double z = NormalQuantile(m.high / 100) - NormalQuantile(m.low / 100);
    sigma = "sigma";
    how = ", sigma = (P" + FormatNumber(m.high) + " - P" + FormatNumber(m.low) + ") / " +
          FormatNumber(std::round(z * 1000) / 1000);
  }
  return "mean within the panels' median +- " + k + " x " + sigma + " of their means" + how +
         "; p2p_max and stddev_max: the median + " + k + " x " + sigma +
         " (every margin at least " + FormatNumber(m.floor) + ", " + FormatNumber(m.floor / 10) +
         " for stddev).";
}

LimitValues LearnElectrodeRobust(const std::vector<ElectrodeSummary>& panels,
                                 const RobustMargins& m, double* tail) {
  std::vector<double> means, p2ps, noises;
  for (const ElectrodeSummary& e : panels) {
    means.push_back(e.mean);
    p2ps.push_back(e.p2p);
    noises.push_back(e.stddev);
  }
  // The chance a good panel lands beyond a margin: none when the figure did not vary.
  double pass = 1;
  auto margin = [&](const std::vector<double>& v, double floor, bool twoSided) {
    const double sigma = SpreadSigma(v, m);
    const double mg = std::max(m.k * sigma, floor);
    if (sigma > 0) {
      const double p = NormalTwoSidedTail(mg / sigma);
      pass *= 1 - (twoSided ? p : p / 2);
    }
    return mg;
  };
  const double centre = Median(means);
  const double meanMargin = margin(means, m.floor, true);
  const double p2pMargin = margin(p2ps, m.floor, false);
  const double noiseMargin = margin(noises, m.floor / 10, false);
  LimitValues v;
  v.meanMin = std::floor(centre - meanMargin);
  v.meanMax = std::ceil(centre + meanMargin);
  v.p2pMax = std::ceil(Median(p2ps) + p2pMargin);
  v.stddevMax = std::ceil((Median(noises) + noiseMargin) * 10 - 1e-9) / 10;
  if (tail) *tail = 1 - pass;
  return v;
}

bool LearnRobust(const std::vector<PanelRun>& runs, const RobustMargins& m,
                 const std::vector<ElectrodeSelector>& unused, Limits& out, RobustSummary& summary,
                 std::string& why) {
  if (!ValidSpread(m, why)) return false;
  double pass = 1;
  const bool ok = LearnFromPanels(
      runs,
      [&](const std::vector<ElectrodeSummary>& panels) {
        double tail = 0;
        const LimitValues v = LearnElectrodeRobust(panels, m, &tail);
        pass *= 1 - tail;
        return v;
      },
      unused, out, why);
  std::set<std::string> units;
  for (const PanelRun& r : runs) units.insert(r.unit);
  summary.panels = int(units.size());
  summary.falseFailRate = 1 - pass;
  return ok;
}

}  // namespace analysis
