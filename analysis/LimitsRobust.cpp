#include "analysis/LimitsRobust.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "analysis/RobustStats.h"

namespace analysis {

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
    const double sigma = RobustSigma(v);
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
