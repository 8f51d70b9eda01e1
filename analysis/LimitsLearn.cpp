#include "analysis/LimitsLearn.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "analysis/LimitsCheck.h"

namespace analysis {

namespace {
// Rounded outwards, to a tenth for spreads so that small figures keep their meaning.
double Down(double v) {
  return std::floor(v);
}
double Up(double v) {
  return std::ceil(v);
}
double UpTenth(double v) {
  return std::ceil(v * 10 - 1e-9) / 10;
}

std::string Quoted(const std::string& text) {
  std::ostringstream os;
  os << toml::value<std::string>(text);
  return os.str();
}
}  // namespace

StreamLimits LearnStream(const StreamInfo& stream, const ElectrodeStats& stats, int scans,
                         const Margins& m) {
  StreamLimits s;
  s.stream = &stream;
  s.scans = scans;
  s.layout = stats.Layout();
  for (int i = 0; i < s.layout.Size(); ++i) {
    const ElectrodeSummary e = stats.Summary(i);
    LimitValues v;
    const double meanMargin = std::max(m.sigmas * e.stddev, m.floor);
    v.meanMin = Down(e.mean - meanMargin);
    v.meanMax = Up(e.mean + meanMargin);
    v.p2pMax = Up(std::max(e.p2p * m.factor, e.p2p + m.floor));
    v.stddevMax = UpTenth(std::max(e.stddev * m.factor, e.stddev + m.floor));
    s.perElectrode.push_back(v);
    const bool x = i < s.layout.xCount;
    const int index = x ? i : i - s.layout.xCount;
    s.entries.push_back(LimitEntry{{ElectrodeSelector{x ? 'X' : 'Y', index, index}}, v, {}, {}});
  }
  return s;
}

void WriteLimits(const Limits& limits, const std::string& comment, std::ostream& out) {
  std::istringstream lines(comment);
  for (std::string line; std::getline(lines, line);) out << "# " << line << "\n";
  if (!comment.empty()) out << "\n";
  if (limits.xCount || limits.yCount) {
    out << "[panel]\n";
    if (limits.xCount) out << "x_count = " << *limits.xCount << "\n";
    if (limits.yCount) out << "y_count = " << *limits.yCount << "\n";
    out << "\n";
  }
  if (limits.version || limits.versionPattern) {
    out << "[firmware]\n";
    if (limits.version) out << "version = " << Quoted(*limits.version) << "\n";
    if (limits.versionPattern)
      out << "version_pattern = " << Quoted(*limits.versionPattern) << "\n";
    out << "\n";
  }
  for (const StreamLimits& s : limits.streams) {
    out << "[streams." << s.stream->name << "]\n";
    if (s.scans > 0) out << "scans = " << s.scans << "\n";
    if (s.openBelow) out << "open_below = " << FormatNumber(*s.openBelow) << "\n";
    if (s.shortAbove) out << "short_above = " << FormatNumber(*s.shortAbove) << "\n";
    out << "limits = [\n";
    for (const LimitEntry& e : s.entries) {
      std::string names;
      for (const ElectrodeSelector& sel : e.electrodes) {
        std::string n = sel.axis == 'A' ? "all" : std::string(1, sel.axis);
        if (sel.axis != 'A' && sel.last >= 0) {
          n += std::to_string(sel.first);
          if (sel.last != sel.first) n += "-" + std::string(1, sel.axis) + std::to_string(sel.last);
        }
        names += (names.empty() ? "" : ", ") + Quoted(n);
      }
      if (e.electrodes.size() > 1) names = "[" + names + "]";
      std::string line = "  { electrodes = " + names;
      const auto add = [&](const char* key, const std::optional<double>& v) {
        if (!v) return;
        std::string num = FormatNumber(*v);
        if (num.find('.') == std::string::npos && std::string(key) == "stddev_max") num += ".0";
        line += std::string(", ") + key + " = " + num;
      };
      add("mean_min", e.values.meanMin);
      add("mean_max", e.values.meanMax);
      add("p2p_max", e.values.p2pMax);
      add("stddev_max", e.values.stddevMax);
      out << line << " },\n";
    }
    out << "]\n\n";
  }
}

}  // namespace analysis
