// The checks of a self test: each compares one measured value (firmware version, an
// electrode count, one electrode's figure) with its limit.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis/ElectrodeStats.h"
#include "analysis/Limits.h"

namespace analysis {

struct CheckResult {
  std::string group;      // "panel", "firmware" or the stream's name
  std::string name;       // unique within its group: "X5 mean", "x_count", "version"
  std::string electrode;  // "" for checks that are not about one electrode
  std::string value;      // measured, as shown
  std::string limit;      // as shown: "900 .. 1100", "<= 30", "\"TPC 1.*\""
  bool pass = true;
  // The same as numbers, where the check is about one: the measured value and the
  // limits it was held to (a bound not given is empty).
  std::optional<double> measured = {}, lower = {}, upper = {};
};

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
                     std::vector<CheckResult>& out);
// Every limit of a resolved stream against its statistics (same layout); open/short
// streams also check each electrode's open and short flags.
void CheckStream(const StreamLimits& limits, const ElectrodeStats& stats,
                 std::vector<CheckResult>& out);

// A number as the reports show it: whole numbers without decimals, others with up to 3.
std::string FormatNumber(double v);

}  // namespace analysis
