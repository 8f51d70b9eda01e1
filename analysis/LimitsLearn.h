// Limits learnt from the statistics of known-good panels, and the limits file written
// from them.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/ElectrodeStats.h"
#include "analysis/Limits.h"

namespace analysis {

// The margin around what the good panels showed: the mean may lie k standard deviations
// from the panels' average, k times the larger of the spread between the panels and the
// noise within the noisiest of them; peak-to-peak and standard deviation may grow by a
// factor over the noisiest panel's. Each margin is at least `floor` counts, so an
// electrode that did not vary still gets room; every golden panel passes its own limits.
struct Margins {
  double sigmas = 6;
  double factor = 2;
  double floor = 2;
};

// One electrode's limits from its figures on each golden panel (at least one).
LimitValues LearnElectrode(const std::vector<ElectrodeSummary>& panels, const Margins& m);

// One entry per electrode of the stream (mean range, p2p_max, stddev_max): one panel.
StreamLimits LearnStream(const StreamInfo& stream, const ElectrodeStats& stats, int scans,
                         const Margins& m);

// One golden panel's statistics of one stream.
struct PanelRun {
  std::string unit;  // which panel: its serial number, a file name
  const StreamInfo* stream = nullptr;
  int xCount = 0;  // the panel's electrode counts
  int yCount = 0;
  std::string firmware;
  int scans = 0;
  std::vector<ElectrodeSummary> electrodes;  // in the stream's layout order
  std::vector<bool> excluded;                // left out of the learning (empty: none)
  std::string run;                           // the kept run it came from (its id), if any
};

// The limits of every stream the runs hold, learnt across the panels. The unused
// electrodes are masked, not learnt. False with why when the panels' electrode counts
// differ or an electrode has no data on any panel. The version is the caller's.
bool LearnFromPanels(const std::vector<PanelRun>& runs, const Margins& m,
                     const std::vector<ElectrodeSelector>& unused, Limits& out, std::string& why);
// As above, each electrode's limits from `learn` (its figures on every panel).
using ElectrodeLearner = std::function<LimitValues(const std::vector<ElectrodeSummary>&)>;
bool LearnFromPanels(const std::vector<PanelRun>& runs, const ElectrodeLearner& learn,
                     const std::vector<ElectrodeSelector>& unused, Limits& out, std::string& why);

// "X5 open" for every electrode an open/short run flags that is neither excluded nor
// unused, per panel: {unit, names}.
std::vector<std::pair<std::string, std::string>> FaultyElectrodes(
    const std::vector<PanelRun>& runs, const std::vector<ElectrodeSelector>& unused);

// The limits file: a comment block (lines without '#', written as comments), [panel],
// [firmware] and one [streams.NAME] section per stream with one line per electrode.
void WriteLimits(const Limits& limits, const std::string& comment, std::ostream& out);

}  // namespace analysis
