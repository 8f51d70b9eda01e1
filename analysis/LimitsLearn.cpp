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

LimitValues LearnElectrode(const std::vector<ElectrodeSummary>& panels, const Margins& m) {
  const double n = static_cast<double>(panels.size());
  double sum = 0, lowest = panels.front().mean, highest = lowest, noise = 0;
  int32_t p2p = 0;
  for (const ElectrodeSummary& e : panels) {
    sum += e.mean;
    lowest = std::min(lowest, e.mean);
    highest = std::max(highest, e.mean);
    noise = std::max(noise, e.stddev);
    p2p = std::max(p2p, e.p2p);
  }
  const double centre = sum / n;
  double spread = 0;  // sample standard deviation of the panels' means
  if (panels.size() > 1) {
    for (const ElectrodeSummary& e : panels) spread += (e.mean - centre) * (e.mean - centre);
    spread = std::sqrt(spread / (n - 1));
  }
  const double margin = std::max({m.sigmas * spread, m.sigmas * noise, m.floor});
  LimitValues v;
  v.meanMin = Down(std::min(centre - margin, lowest - m.floor));
  v.meanMax = Up(std::max(centre + margin, highest + m.floor));
  v.p2pMax = Up(std::max(p2p * m.factor, p2p + m.floor));
  v.stddevMax = UpTenth(std::max(noise * m.factor, noise + m.floor));
  return v;
}

namespace {
LimitEntry EntryFor(const ScanLayout& layout, int i, const LimitValues& v) {
  const bool x = i < layout.xCount;
  const int index = x ? i : i - layout.xCount;
  return LimitEntry{{ElectrodeSelector{x ? 'X' : 'Y', index, index}}, v, {}, {}};
}
}  // namespace

StreamLimits LearnStream(const StreamInfo& stream, const ElectrodeStats& stats, int scans,
                         const Margins& m) {
  StreamLimits s;
  s.stream = &stream;
  s.scans = scans;
  s.layout = stats.Layout();
  for (int i = 0; i < s.layout.Size(); ++i) {
    const LimitValues v = LearnElectrode({stats.Summary(i)}, m);
    s.perElectrode.push_back(v);
    s.entries.push_back(EntryFor(s.layout, i, v));
  }
  return s;
}

namespace {
// Which electrodes of a stream's layout the unused selectors name.
std::vector<bool> UnusedOf(const std::vector<ElectrodeSelector>& unused, const ScanLayout& layout) {
  std::vector<bool> out(static_cast<size_t>(layout.Size()), false);
  std::string why;
  for (const ElectrodeSelector& sel : unused) {
    if ((sel.axis == 'X' && layout.xCount == 0) || (sel.axis == 'Y' && layout.yCount == 0))
      continue;
    ForEachElectrode(
        sel, layout, [&](int i) { out[static_cast<size_t>(i)] = true; }, why);
  }
  return out;
}

bool Excluded(const PanelRun& r, size_t i) {
  return i < r.excluded.size() && r.excluded[i];
}
}  // namespace

bool LearnFromPanels(const std::vector<PanelRun>& runs, const Margins& m,
                     const std::vector<ElectrodeSelector>& unused, Limits& out, std::string& why) {
  return LearnFromPanels(
      runs, [&](const std::vector<ElectrodeSummary>& panels) { return LearnElectrode(panels, m); },
      unused, out, why);
}

bool LearnFromPanels(const std::vector<PanelRun>& runs, const ElectrodeLearner& learn,
                     const std::vector<ElectrodeSelector>& unused, Limits& out, std::string& why) {
  if (runs.empty()) {
    why = "no statistics of a golden panel to learn from";
    return false;
  }
  const PanelRun& first = runs.front();
  for (const PanelRun& r : runs) {
    if (r.xCount == first.xCount && r.yCount == first.yCount) continue;
    why = "the golden panels differ: " + first.unit + " has " + std::to_string(first.xCount) +
          " x " + std::to_string(first.yCount) + " electrodes, " + r.unit + " " +
          std::to_string(r.xCount) + " x " + std::to_string(r.yCount);
    return false;
  }
  out.xCount = first.xCount;
  out.yCount = first.yCount;
  out.unused = unused;
  for (const PanelRun& r : runs)
    if (!r.run.empty() &&
        std::find(out.learnedRuns.begin(), out.learnedRuns.end(), r.run) == out.learnedRuns.end())
      out.learnedRuns.push_back(r.run);
  const ScanLayout panel{first.xCount, first.yCount};
  for (const ElectrodeSelector& sel : unused)
    if (!ForEachElectrode(
            sel, panel, [](int) {}, why))
      return false;
  std::vector<const StreamInfo*> streams;
  for (const PanelRun& r : runs)
    if (std::find(streams.begin(), streams.end(), r.stream) == streams.end())
      streams.push_back(r.stream);
  for (const StreamInfo* stream : streams) {
    StreamLimits s;
    s.stream = stream;
    s.layout = ScanLayout::For(*stream, first.xCount, first.yCount);
    const std::vector<bool> masked = UnusedOf(unused, s.layout);
    s.perElectrode.assign(static_cast<size_t>(s.layout.Size()), LimitValues{});
    for (int i = 0; i < s.layout.Size(); ++i) {
      const size_t k = static_cast<size_t>(i);
      if (masked[k]) {
        s.perElectrode[k].unused = true;
        continue;
      }
      std::vector<ElectrodeSummary> panels;
      for (const PanelRun& r : runs) {
        if (r.stream != stream || Excluded(r, k) || k >= r.electrodes.size()) continue;
        panels.push_back(r.electrodes[k]);
        s.scans = std::max(s.scans, r.scans);
      }
      if (panels.empty()) {
        why = "no golden panel gave " + s.layout.Name(i) + " of " + stream->name +
              " (excluded on every panel; --unused marks an electrode the panel does not use)";
        return false;
      }
      s.perElectrode[k] = learn(panels);
      s.entries.push_back(EntryFor(s.layout, i, s.perElectrode[k]));
    }
    out.streams.push_back(std::move(s));
  }
  return true;
}

std::vector<std::pair<std::string, std::string>> FaultyElectrodes(
    const std::vector<PanelRun>& runs, const std::vector<ElectrodeSelector>& unused) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const PanelRun& r : runs) {
    if (r.stream->kind != StreamKind::kOpenShort) continue;
    const ScanLayout layout = ScanLayout::For(*r.stream, r.xCount, r.yCount);
    const std::vector<bool> masked = UnusedOf(unused, layout);
    std::string names;
    for (size_t i = 0; i < r.electrodes.size() && i < masked.size(); ++i) {
      const ElectrodeSummary& e = r.electrodes[i];
      if (masked[i] || Excluded(r, i) || (!e.open && !e.shorted)) continue;
      names += (names.empty() ? "" : ", ") + layout.Name(static_cast<int>(i)) +
               (e.open ? " open" : " short");
    }
    if (names.empty()) continue;
    auto same =
        std::find_if(out.begin(), out.end(), [&](const auto& p) { return p.first == r.unit; });
    if (same == out.end())
      out.emplace_back(r.unit, names);
    else if (same->second.find(names) == std::string::npos)
      same->second += ", " + names;
  }
  return out;
}

void WriteLimits(const Limits& limits, const std::string& comment, std::ostream& out) {
  std::istringstream lines(comment);
  for (std::string line; std::getline(lines, line);) out << "# " << line << "\n";
  if (!comment.empty()) out << "\n";
  if (limits.xCount || limits.yCount) {
    out << "[panel]\n";
    if (limits.xCount) out << "x_count = " << *limits.xCount << "\n";
    if (limits.yCount) out << "y_count = " << *limits.yCount << "\n";
    if (!limits.unused.empty()) {
      std::string names;
      for (const ElectrodeSelector& sel : limits.unused)
        names += (names.empty() ? "" : ", ") + Quoted(SelectorText(sel));
      out << "unused = [" << names << "]\n";
    }
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
      for (const ElectrodeSelector& sel : e.electrodes)
        names += (names.empty() ? "" : ", ") + Quoted(SelectorText(sel));
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
  if (!limits.learnedRuns.empty()) {
    out << "# The kept runs these limits were learnt from (vantrel report --learned).\n"
        << "[learned]\nruns = [\n";
    for (const std::string& id : limits.learnedRuns) out << "  " << Quoted(id) << ",\n";
    out << "]\n";
  }
}

}  // namespace analysis
