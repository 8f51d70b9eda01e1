#include "analysis/TouchLimits.h"

#include <algorithm>

namespace analysis {

namespace {
struct Key {
  const char* name;
  double TouchLimits::*field;
};
constexpr Key kKeys[] = {
    {"ghost_max", &TouchLimits::ghostMax},
    {"rate_min_hz", &TouchLimits::rateMinHz},
    {"gap_max_periods", &TouchLimits::gapMaxPeriods},
    {"jitter_max_mm", &TouchLimits::jitterMaxMm},
    {"linearity_max_mm", &TouchLimits::linearityMaxMm},
    {"linearity_edge_max_mm", &TouchLimits::linearityEdgeMaxMm},
    {"accuracy_max_mm", &TouchLimits::accuracyMaxMm},
    {"accuracy_edge_max_mm", &TouchLimits::accuracyEdgeMaxMm},
    {"accuracy_pass_percent", &TouchLimits::accuracyPassPercent},
    {"edge_mm", &TouchLimits::edgeMm},
    {"contacts_min", &TouchLimits::contactsMin},
    {"id_swaps_max", &TouchLimits::idSwapsMax},
    {"separation_max_mm", &TouchLimits::separationMaxMm},
    {"finger_mm", &TouchLimits::fingerMm},
    {"settle_ms", &TouchLimits::settleMs},
};
}  // namespace

const char* TouchLimitKeys() {
  return "ghost_max, rate_min_hz, gap_max_periods, jitter_max_mm, linearity_max_mm, "
         "linearity_edge_max_mm, accuracy_max_mm, accuracy_edge_max_mm, "
         "accuracy_pass_percent, edge_mm, contacts_min, id_swaps_max, separation_max_mm, "
         "finger_mm, settle_ms";
}

bool SetTouchLimit(TouchLimits& limits, const std::string& key, double value) {
  for (const Key& k : kKeys) {
    if (key == k.name) {
      limits.*k.field = value;
      return true;
    }
  }
  return false;
}

double TouchGeometry::EdgeDistanceMm(double xMm, double yMm) const {
  return std::min({xMm, widthMm - xMm, yMm, heightMm - yMm});
}

}  // namespace analysis
