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
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
  }
  return std::string(buf) == "-0" ? "0" : buf;
}

void CheckController(const Limits& limits, const ControllerFacts& f,
                     std::vector<CheckResult>& out) {
  if (!f.panelReported)
    out.push_back(
        {"panel", "information", "", "not reported", "reported by the controller", false});
  auto count = [&](const char* name, int measured, const std::optional<int>& expected) {
    if (!expected) return;
    CheckResult c{"panel",
                  name,
                  "",
                  std::to_string(measured),
                  "= " + std::to_string(*expected),
                  f.panelReported && measured == *expected};
    c.measured = measured;
    c.lower = c.upper = *expected;
    out.push_back(c);
  };
  count("x_count", f.xCount, limits.xCount);
  count("y_count", f.yCount, limits.yCount);
  const std::string shown = f.versionReported ? "\"" + f.version + "\"" : "not reported";
  if (limits.version)
    out.push_back({"firmware", "version", "", shown, "= \"" + *limits.version + "\"",
                   f.versionReported && f.version == *limits.version});
  else if (limits.versionPattern)
    out.push_back({"firmware", "version", "", shown, "matches \"" + *limits.versionPattern + "\"",
                   f.versionReported &&
                       ::fnmatch(limits.versionPattern->c_str(), f.version.c_str(), 0) == 0});
  else if (!f.versionReported)
    out.push_back({"firmware", "version", "", shown, "reported by the controller", false});
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
    if (v.unused) continue;
    auto add = [&](const char* what, double measured, const std::optional<double>& lo,
                   const std::optional<double>& hi) {
      CheckResult c{group,
                    e + " " + what,
                    e,
                    FormatNumber(measured),
                    Range(lo, hi),
                    (!lo || measured >= *lo) && (!hi || measured <= *hi)};
      c.measured = measured;
      c.lower = lo;
      c.upper = hi;
      out.push_back(std::move(c));
    };
    if (v.meanMin || v.meanMax) add("mean", s.mean, v.meanMin, v.meanMax);
    if (v.p2pMax) add("p2p", s.p2p, {}, v.p2pMax);
    if (v.stddevMax) add("stddev", s.stddev, {}, v.stddevMax);
    if (stats.Kind() == StreamKind::kOpenShort) {
      const std::string state = s.open ? "open" : s.shorted ? "short" : "ok";
      CheckResult c{group,
                    e + " open/short",
                    e,
                    state + " (mean " + FormatNumber(s.mean) + ")",
                    FormatNumber(stats.Options().openBelow) + " .. " +
                        FormatNumber(stats.Options().shortAbove),
                    !s.open && !s.shorted};
      c.measured = s.mean;
      c.lower = stats.Options().openBelow;
      c.upper = stats.Options().shortAbove;
      out.push_back(std::move(c));
    }
  }
}

}  // namespace analysis
