#include "analysis/NoiseLimits.h"

namespace analysis {

namespace {
struct Key {
  const char* name;
  std::optional<double> NoiseLimits::*field;
};
constexpr Key kKeys[] = {
    {"ghost_max", &NoiseLimits::ghostMax},     {"jitter_max_mm", &NoiseLimits::jitterMaxMm},
    {"snr_min_db", &NoiseLimits::snrMinDb},    {"stddev_max", &NoiseLimits::stddevMax},
    {"p2p_max", &NoiseLimits::p2pMax},
};
}  // namespace

const char* NoiseLimitKeys() {
  return "ghost_max, jitter_max_mm, snr_min_db, stddev_max, p2p_max";
}

bool SetNoiseLimit(NoiseLimits& limits, const std::string& key, double value) {
  for (const Key& k : kKeys) {
    if (key == k.name) {
      limits.*k.field = value;
      return true;
    }
  }
  return false;
}

}  // namespace analysis
