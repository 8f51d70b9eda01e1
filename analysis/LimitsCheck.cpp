#include "analysis/LimitsCheck.h"

#include <fnmatch.h>

namespace analysis {

namespace {
// A check of the controller as a whole: a value shown as text, a limit that is no range.
Check Shown(const char* group, const char* check, std::string text, std::string limit, bool pass) {
  Check c{group, "",           check,        std::nullopt,     std::move(text),
          "",    std::nullopt, std::nullopt, std::move(limit), pass};
  return c;
}
}  // namespace

void CheckController(const Limits& limits, const ControllerFacts& f, std::vector<Check>& out) {
  if (!f.panelReported)
    out.push_back(
        Shown("panel", "information", "not reported", "reported by the controller", false));
  auto count = [&](const char* name, int measured, const std::optional<int>& expected) {
    if (!expected) return;
    out.push_back(Check{"panel", "", name, measured, "", "", *expected, *expected,
                        "= " + std::to_string(*expected),
                        f.panelReported && measured == *expected});
  };
  count("x_count", f.xCount, limits.xCount);
  count("y_count", f.yCount, limits.yCount);
  const std::string shown = f.versionReported ? "\"" + f.version + "\"" : "not reported";
  if (limits.version)
    out.push_back(Shown("firmware", "version", shown, "= \"" + *limits.version + "\"",
                        f.versionReported && f.version == *limits.version));
  else if (limits.versionPattern)
    out.push_back(Shown(
        "firmware", "version", shown, "matches \"" + *limits.versionPattern + "\"",
        f.versionReported && ::fnmatch(limits.versionPattern->c_str(), f.version.c_str(), 0) == 0));
  else if (!f.versionReported)
    out.push_back(Shown("firmware", "version", shown, "reported by the controller", false));
}

void CheckStream(const StreamLimits& limits, const ElectrodeStats& stats, std::vector<Check>& out) {
  const std::string group = limits.stream->name;
  const ScanLayout& layout = stats.Layout();
  for (int i = 0; i < layout.Size(); ++i) {
    const std::string e = layout.Name(i);
    const ElectrodeSummary s = stats.Summary(i);
    const LimitValues v = static_cast<size_t>(i) < limits.perElectrode.size()
                              ? limits.perElectrode[static_cast<size_t>(i)]
                              : LimitValues{};
    if (v.unused) continue;
    auto add = [&](const char* what, double measured, const std::optional<double>& lo,
                   const std::optional<double>& hi) {
      out.push_back(Check{group, e, what, measured, "", "counts", lo, hi, "",
                          (!lo || measured >= *lo) && (!hi || measured <= *hi)});
    };
    if (v.meanMin || v.meanMax) add("mean", s.mean, v.meanMin, v.meanMax);
    if (v.p2pMax) add("p2p", s.p2p, {}, v.p2pMax);
    if (v.stddevMax) add("stddev", s.stddev, {}, v.stddevMax);
    if (stats.Kind() == StreamKind::kOpenShort) {
      const std::string state = s.open ? "open" : s.shorted ? "short" : "ok";
      out.push_back(Check{
          group, e, "open/short", s.mean, state + " (mean " + FormatNumber(s.mean) + ")", "counts",
          stats.Options().openBelow, stats.Options().shortAbove, "", !s.open && !s.shorted});
    }
  }
}

}  // namespace analysis
