// Limits of the noise immunity sweep (the [noise] section of a limits file): what the
// panel may show at any frequency of the sweep.
//
//   [noise]
//   ghost_max = 0          # ghost contacts per point
//   jitter_max_mm = 0.5    # a held finger's largest distance from its mean
//   snr_min_db = 14        # held finger: each touched electrode's signal over its noise
//   stddev_max = 8         # each electrode's noise (counts), optional
//   p2p_max = 30           # each electrode's peak-to-peak (counts), optional
#pragma once

#include <optional>
#include <string>

namespace analysis {

struct NoiseLimits {
  std::optional<double> ghostMax = 0;
  std::optional<double> jitterMaxMm = 0.5;
  std::optional<double> snrMinDb = 14;  // 5:1
  std::optional<double> stddevMax, p2pMax;
};

const char* NoiseLimitKeys();
// Sets one key by its name; false for an unknown key.
bool SetNoiseLimit(NoiseLimits& limits, const std::string& key, double value);

}  // namespace analysis
