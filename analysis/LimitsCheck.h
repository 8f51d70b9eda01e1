// The checks of a self test: each compares one measured value (firmware version, an
// electrode count, one electrode's figure) with its limit.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis/Check.h"
#include "analysis/ElectrodeStats.h"
#include "analysis/Limits.h"

namespace analysis {

// What the controller said about itself.
struct ControllerFacts {
  int xCount = 0;
  int yCount = 0;
  bool panelReported = true;  // false: the counts are only the configured ones
  std::string version;
  bool versionReported = true;
};

// Panel counts and firmware version; panel information or a version the controller did
// not give is a failed check.
void CheckController(const Limits& limits, const ControllerFacts& facts,
                     std::vector<Check>& out);
// Every limit of a resolved stream against its statistics (same layout); open/short
// streams also check each electrode's open and short flags.
void CheckStream(const StreamLimits& limits, const ElectrodeStats& stats,
                 std::vector<Check>& out);

}  // namespace analysis
