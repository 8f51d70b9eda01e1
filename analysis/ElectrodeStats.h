// Per-electrode statistics over complete scans, updated one scan at a time (Welford's
// method, so nothing but the running figures is kept): min, max, mean, standard deviation,
// peak-to-peak. Signal data also gives each touched electrode's signal-to-noise ratio;
// open/short data gives open and short flags.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "analysis/DataStreams.h"

namespace analysis {

struct ElectrodeSummary {
  int32_t min = 0;
  int32_t max = 0;
  double mean = 0;
  double stddev = 0;  // population standard deviation over the scans
  int32_t p2p = 0;    // max - min
  // Signal data: mean signal of the scans in which this electrode was touched, over the
  // standard deviation of its untouched scans. NaN when it was never touched or no
  // untouched scan was seen; infinity when the untouched scans did not vary.
  double snr = std::numeric_limits<double>::quiet_NaN();
  bool open = false;     // open/short data: mean below the open threshold
  bool shorted = false;  // open/short data: mean above the short threshold
};

// Settings of the signal-to-noise ratio and of the open/short flags.
struct StatsOptions {
  int zeroLine = 1000;       // the value of "no signal"
  int touchThreshold = 50;   // signal above the zero line that counts as touched
  double openBelow = 500;    // open/short data: a mean below this is an open electrode
  double shortAbove = 1500;  // open/short data: a mean above this is a short
};

class ElectrodeStats {
 public:
  ElectrodeStats(ScanLayout layout, StreamKind kind, StatsOptions options = {});

  // One complete scan (layout.Size() values).
  void Add(std::span<const int32_t> scan);
  void Reset();

  uint64_t Scans() const { return n_; }
  uint64_t TouchedScans() const { return touchedScans_; }
  const ScanLayout& Layout() const { return layout_; }
  StreamKind Kind() const { return kind_; }
  const StatsOptions& Options() const { return options_; }

  ElectrodeSummary Summary(int electrode) const;
  std::vector<ElectrodeSummary> Summaries() const;

 private:
  ScanLayout layout_;
  StreamKind kind_;
  StatsOptions options_;
  uint64_t n_ = 0;
  std::vector<double> mean_, m2_;
  std::vector<int32_t> min_, max_;
  // Signal data only: untouched scans (noise) and touched electrodes.
  uint64_t quietScans_ = 0, touchedScans_ = 0;
  std::vector<double> quietMean_, quietM2_, touchSum_;
  std::vector<uint32_t> touchCount_;
};

}  // namespace analysis
