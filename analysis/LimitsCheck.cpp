#include "analysis/LimitsCheck.h"

#include <fnmatch.h>

#include <cmath>
#include <cstdio>

namespace analysis {

std::string FormatNumber(double v) {
  if (std::isnan(v)) return "-";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  if (v == std::round(v) && std::fabs(v) < 1e15) {
    std::snprintf(buf, sizeof buf, "%.0f", v);
  } else {
    std::snprintf(buf, sizeof buf, "%.3f", v);
    std::string s(buf);
    while (s.back() == '0') s.pop_back();
    return s;
  }
  return buf;
}

void CheckController(const Limits& limits, int xCount, int yCount, const std::string& version,
                     std::vector<CheckResult>& out) {
  if (limits.xCount)
    out.push_back({"panel", "x_count", "", std::to_string(xCount),
                   "= " + std::to_string(*limits.xCount), xCount == *limits.xCount});
  if (limits.yCount)
    out.push_back({"panel", "y_count", "", std::to_string(yCount),
                   "= " + std::to_string(*limits.yCount), yCount == *limits.yCount});
  if (limits.version)
    out.push_back({"firmware", "version", "", "\"" + version + "\"",
                   "= \"" + *limits.version + "\"", version == *limits.version});
  if (limits.versionPattern)
    out.push_back({"firmware", "version", "", "\"" + version + "\"",
                   "matches \"" + *limits.versionPattern + "\"",
                   ::fnmatch(limits.versionPattern->c_str(), version.c_str(), 0) == 0});
}

namespace {
std::string Range(const std::optional<double>& lo, const std::optional<double>& hi) {
  if (lo && hi) return FormatNumber(*lo) + " .. " + FormatNumber(*hi);
  if (lo) return ">= " + FormatNumber(*lo);
  return "<= " + FormatNumber(*hi);
}
}  // namespace

void CheckStream(const StreamLimits& limits, const ElectrodeStats& stats,
                 std::vector<CheckResult>& out) {
  const std::string group = limits.stream->name;
  const ScanLayout& layout = stats.Layout();
  for (int i = 0; i < layout.Size(); ++i) {
    const std::string e = layout.Name(i);
    const ElectrodeSummary s = stats.Summary(i);
    const LimitValues v = static_cast<size_t>(i) < limits.perElectrode.size()
                              ? limits.perElectrode[static_cast<size_t>(i)]
                              : LimitValues{};
    if (v.meanMin || v.meanMax) {
      const bool ok = (!v.meanMin || s.mean >= *v.meanMin) && (!v.meanMax || s.mean <= *v.meanMax);
      out.push_back({group, e + " mean", e, FormatNumber(s.mean), Range(v.meanMin, v.meanMax), ok});
    }
    if (v.p2pMax)
      out.push_back(
          {group, e + " p2p", e, FormatNumber(s.p2p), Range({}, v.p2pMax), s.p2p <= *v.p2pMax});
    if (v.stddevMax)
      out.push_back({group, e + " stddev", e, FormatNumber(s.stddev), Range({}, v.stddevMax),
                     s.stddev <= *v.stddevMax});
    if (stats.Kind() == StreamKind::kOpenShort) {
      const std::string state = s.open ? "open" : s.shorted ? "short" : "ok";
      out.push_back({group, e + " open/short", e, state + " (mean " + FormatNumber(s.mean) + ")",
                     FormatNumber(stats.Options().openBelow) + " .. " +
                         FormatNumber(stats.Options().shortAbove),
                     !s.open && !s.shorted});
    }
  }
}

}  // namespace analysis
