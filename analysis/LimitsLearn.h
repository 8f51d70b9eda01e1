// Limits learnt from the statistics of a known-good panel, and the limits file written
// from them.
#pragma once

#include <ostream>
#include <string>

#include "analysis/ElectrodeStats.h"
#include "analysis/Limits.h"

namespace analysis {

// The margin around what the good panel showed: the mean may move by k standard
// deviations, peak-to-peak and standard deviation may grow by a factor; each margin is at
// least `floor` counts, so an electrode that did not vary still gets room.
struct Margins {
  double sigmas = 6;
  double factor = 2;
  double floor = 2;
};

// One entry per electrode of the stream (mean range, p2p_max, stddev_max).
StreamLimits LearnStream(const StreamInfo& stream, const ElectrodeStats& stats, int scans,
                         const Margins& m);

// The limits file: a comment block (lines without '#', written as comments), [panel],
// [firmware] and one [streams.NAME] section per stream with one line per electrode.
void WriteLimits(const Limits& limits, const std::string& comment, std::ostream& out);

}  // namespace analysis
