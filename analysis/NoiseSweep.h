// The noise immunity sweep's figures: the frequencies of a sweep, what one frequency
// showed (each electrode's noise and signal-to-noise ratio, ghost contacts, a held
// finger's jitter, the report rate), its checks against the [noise] limits, and the sweep
// file: one CSV row per frequency and electrode, written as points finish, read back to
// resume an interrupted sweep.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/DataStreams.h"
#include "analysis/ElectrodeStats.h"
#include "analysis/LimitsCheck.h"
#include "analysis/NoiseLimits.h"
#include "analysis/TouchStrokes.h"

namespace analysis {

struct SweepPlan {
  double fromHz = 0, toHz = 0;
  int points = 0;      // 0: from the step
  double stepHz = 0;   // 0: from the points
  bool log = false;    // log spacing (points only)
};
// The frequencies, from first to last. False with the reason for a plan that makes none
// or one beyond a million points.
bool SweepFrequencies(const SweepPlan& plan, std::vector<double>& out, std::string& why);
// "400 Hz", "150 kHz", "1.5 MHz"
std::string FrequencyText(double hz);

struct ElectrodeNoise {
  double stddev = 0;
  double p2p = 0;
  std::optional<double> snrDb;  // touched electrodes of signal data with a finger held
};

// What one frequency showed.
struct NoisePoint {
  double hz = 0;
  std::vector<ElectrodeNoise> electrodes;  // in the layout's order
  int ghosts = 0;
  std::optional<double> jitterMm;  // a finger held
  double rateHz = 0;               // coordinate reports per second (the held finger's)
  uint64_t scans = 0;

  double WorstStddev() const;
  double WorstP2p() const;
  std::optional<double> WorstSnrDb() const;
};

// The figures of one point from its scans and its coordinate reports. held: the longest
// stroke is the finger, every other one a ghost; otherwise every stroke is a ghost.
// zeroLine/touchThreshold: signal data, an electrode whose mean is that far above the
// zero line is under the finger (its SNR is given).
NoisePoint MeasurePoint(double hz, const ElectrodeStats& stats, const StrokeTracker& strokes,
                        bool held, double seconds, const TouchGeometry& geometry);

// The checks of a point against the limits, grouped under the point's frequency.
std::vector<Check> CheckPoint(const NoisePoint& p, const ScanLayout& layout,
                                    const NoiseLimits& limits, bool held);

// The settings a sweep file's rows repeat: a resumed sweep must have the same.
struct SweepSettings {
  std::string waveform;  // "square", "sine"
  double vpp = 0;
  std::string touch;  // "none", "held"
};

// The sweep file: a header line, then per point one row per electrode and one "all" row
// (the panel's figures and the point's verdict) that ends it. CR LF line ends.
void WriteSweepHeader(std::ostream& out);
void WriteSweepPoint(std::ostream& out, const SweepSettings& s, const NoisePoint& p,
                     const ScanLayout& layout, const std::vector<Check>& checks);
// Reads the finished points of a sweep file; `end` receives the byte offset after the
// last finished point (what follows it is an unfinished point). False with the reason for
// a file that is not a sweep file, holds other settings or another panel.
bool ReadSweepFile(std::istream& in, const SweepSettings& s, const ScanLayout& layout,
                   std::vector<NoisePoint>& points, uint64_t& end, std::string& why);
// The same, each finished point handed to `each` as it is read.
bool ReadSweepFile(std::istream& in, const SweepSettings& s, const ScanLayout& layout,
                   const std::function<void(const NoisePoint&)>& each, uint64_t& end,
                   std::string& why);

}  // namespace analysis
