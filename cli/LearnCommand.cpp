#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <sstream>

#include "analysis/Limits.h"
#include "analysis/LimitsCheck.h"
#include "analysis/LimitsLearn.h"
#include "analysis/LimitsRobust.h"
#include "cli/LearnFromResults.h"
#include "cli/LearnRuns.h"
#include "cli/Reports.h"
#include "cli/Subcommands.h"

using analysis::ElectrodeStats;
using analysis::PanelRun;
using analysis::ScanLayout;
using analysis::StreamInfo;
using Result = ControllerSession::Result;

namespace {

struct LearnOptions {
  std::vector<std::string> streams;  // measured on the connected panel
  int scans = 50;
  analysis::Margins margins;
  std::string versionPattern;  // written instead of the exact version when given
  std::string output;
  std::string add;                   // learning file the measured panel is added to
  std::vector<std::string> from;     // statistics or learning files learnt from too
  std::string unit;                  // the measured panel's name in the learning file
  std::vector<std::string> unused;   // electrodes the panel does not use ("X36-X37,Y0")
  std::vector<std::string> exclude;  // electrodes left out of this learning
  bool fromResults = false;          // golden panels from the kept runs
  ResultsSelection results;
  bool robust = false;  // median and 1.4826 x MAD (always for kept runs)
  analysis::RobustMargins robustMargins;
};

// Electrodes "X3,Y5-Y7" into selectors; false with why.
bool ParseElectrodeList(const std::vector<std::string>& items,
                        std::vector<analysis::ElectrodeSelector>& out, std::string& why) {
  for (const std::string& item : items) {
    std::istringstream parts(item);
    for (std::string one; std::getline(parts, one, ',');) {
      analysis::ElectrodeSelector sel;
      if (one.empty()) continue;
      if (!analysis::ParseSelector(one, sel) || (sel.last >= 0 && sel.first > sel.last)) {
        why = "\"" + one + "\" is not an electrode or range (X3, Y0-Y5, X, Y)";
        return false;
      }
      out.push_back(sel);
    }
  }
  return true;
}

// Marks the electrodes of a run the selectors name as left out of the learning.
void Exclude(analysis::PanelRun& run, const std::vector<analysis::ElectrodeSelector>& sels) {
  const ScanLayout layout = ScanLayout::For(*run.stream, run.xCount, run.yCount);
  run.excluded.resize(run.electrodes.size(), false);
  std::string why;
  for (const auto& sel : sels) {
    if ((sel.axis == 'X' && layout.xCount == 0) || (sel.axis == 'Y' && layout.yCount == 0))
      continue;
    analysis::ForEachElectrode(
        sel, layout,
        [&](int i) {
          if (static_cast<size_t>(i) < run.excluded.size())
            run.excluded[static_cast<size_t>(i)] = true;
        },
        why);
  }
}

analysis::PanelRun RunOf(const std::string& unit, const StreamInfo& stream,
                         const ElectrodeStats& stats, const std::string& firmware,
                         const PanelInfo& p) {
  analysis::PanelRun run;
  run.unit = unit;
  run.stream = &stream;
  run.xCount = p.xCount;
  run.yCount = p.yCount;
  run.firmware = firmware;
  run.scans = static_cast<int>(stats.Scans());
  run.electrodes = stats.Summaries();
  return run;
}

// Measures the connected panel's streams (and its open/short test, to find faulty
// electrodes, when not among them). False with the exit code when it cannot.
bool MeasureGoldenPanel(const GlobalOptions& g, const LearnOptions& l,
                        const std::vector<const StreamInfo*>& streams, const std::string& unit,
                        std::vector<analysis::PanelRun>& learnt,
                        std::vector<analysis::PanelRun>& checked, std::string& link, int& code) {
  auto s = Connect(g, code);
  if (!s) return false;
  if (!s->PanelReported() || !s->VersionReported()) {
    code = Complain("the controller reported no panel information or version: nothing learnt");
    return false;
  }
  link = s->LinkText();
  const PanelInfo p = s->Panel();
  std::vector<const StreamInfo*> all = streams;
  const StreamInfo* openShort = analysis::FindStream("open-short");
  const bool testOpens = std::none_of(streams.begin(), streams.end(), [](const StreamInfo* st) {
    return st->kind == analysis::StreamKind::kOpenShort;
  });
  if (testOpens) all.push_back(openShort);
  for (const StreamInfo* stream : all) {
    ElectrodeStats stats(ScanLayout::For(*stream, p.xCount, p.yCount), stream->kind);
    ControllerSession::CaptureCounts counts;
    const int scans = stream == openShort && testOpens ? std::min(l.scans, 10) : l.scans;
    const Result r = Measure(
        *s, *stream, scans, [&](std::span<const int32_t> v) { stats.Add(v); }, counts);
    ReportIncomplete(stream->name, counts);
    if (r != Result::kOk) {
      code = Complain(s->Error(), ExitFor(r));
      return false;
    }
    analysis::PanelRun run = RunOf(unit, *stream, stats, s->Version(), p);
    (stream == openShort && testOpens ? checked : learnt).push_back(std::move(run));
  }
  s->Leave();
  return true;
}

// The runs learnt from, apart from the connected panel: the learning file (into runs) and
// the statistics files, learning files and kept runs given (into from). kept: how the
// kept runs were chosen. False with why.
bool LoadEarlier(const LearnOptions& l, const std::vector<analysis::ElectrodeSelector>& exclude,
                 std::vector<PanelRun>& runs, std::vector<PanelRun>& from, std::string& kept,
                 std::string& why) {
  if (!l.add.empty() && ::access(l.add.c_str(), F_OK) == 0 && !LoadRuns(l.add, runs, why))
    return false;
  for (const std::string& path : l.from)
    if (!LoadRuns(path, from, why)) return false;
  if (l.fromResults && !RunsFromResults(l.results, from, kept, why)) return false;
  for (auto& run : from) Exclude(run, exclude);
  return true;
}

// The connected panel's name in the learning file: given, or the next "panel N".
std::string UnitName(const LearnOptions& l, const std::vector<PanelRun>& runs) {
  if (!l.unit.empty()) return l.unit;
  std::vector<std::string> units;
  for (const auto& r : runs)
    if (std::find(units.begin(), units.end(), r.unit) == units.end()) units.push_back(r.unit);
  return "panel " + std::to_string(units.size() + 1);
}

// What a golden panel with an open or shorted electrode would teach as normal; "" for none.
std::string FaultyPanels(const std::vector<std::vector<PanelRun>*>& sets,
                         const std::vector<analysis::ElectrodeSelector>& unused) {
  std::vector<PanelRun> look;
  for (const auto* set : sets) look.insert(look.end(), set->begin(), set->end());
  std::string list;
  for (const auto& [unit, names] : analysis::FaultyElectrodes(look, unused))
    list += "\n  " + unit + ": " + names;
  return list;
}

// How the limits were learnt, for the head of the limits file.
std::string LimitsComment(const LearnOptions& l, const std::vector<std::string>& units,
                          const std::string& link, const std::string& kept, bool robust,
                          const analysis::RobustSummary& summary) {
  char date[32] = "";
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  std::ostringstream comment;
  comment << "Limits learnt by vantrel " << VANTREL_VERSION << " on " << date << " from "
          << units.size() << " known-good panel(s)";
  for (size_t i = 0; i < units.size() && i < 8; ++i) comment << (i ? ", " : ": ") << units[i];
  if (units.size() > 8) comment << ", ...";
  comment << "\n";
  if (!link.empty()) comment << "(the last measured on " << link << ").\n";
  if (robust) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.3g %%", 100 * summary.falseFailRate);
    if (!kept.empty()) comment << "Golden panels: " << kept << ".\n";
    comment << "Learnt robustly from " << summary.panels
            << " panel(s): " << analysis::RobustMethodText(l.robustMargins) << "\n"
            << "Expected false-fail rate: " << rate
            << " of good units (normal, independent figures).\n";
    if (summary.panels < 30) {
      comment << "WARNING: fewer than 30 panels; the spread is poorly known.\n";
      std::cerr << "vantrel: warning: only " << summary.panels
                << " panel(s); 30 or more give limits that can be trusted\n";
    }
    std::cerr << "vantrel: " << summary.panels << " panel(s), expected false-fail rate " << rate
              << "\n";
  } else {
    comment << "Mean: the panels' average +- " << analysis::FormatNumber(l.margins.sigmas)
            << " x the larger of their spread and the noisiest panel's stddev (at least "
            << analysis::FormatNumber(l.margins.floor) << ");\n"
            << "p2p_max and stddev_max: " << analysis::FormatNumber(l.margins.factor)
            << " x the noisiest panel's (at least +" << analysis::FormatNumber(l.margins.floor)
            << ").\n";
  }
  comment
      << "Edit freely: entries may name ranges (\"X0-X37\", \"Y\", \"all\"); later entries win.";
  return comment.str();
}

// Learns the limits from the runs and writes the limits file.
int WriteLearnt(const LearnOptions& l, const std::vector<PanelRun>& runs,
                const std::vector<analysis::ElectrodeSelector>& unused, const std::string& link,
                const std::string& kept) {
  analysis::Limits limits;
  const bool robust = l.robust || l.fromResults;
  analysis::RobustSummary summary;
  std::string why;
  if (robust ? !analysis::LearnRobust(runs, l.robustMargins, unused, limits, summary, why)
             : !analysis::LearnFromPanels(runs, l.margins, unused, limits, why))
    return Complain(why);
  std::vector<std::string> units, versions;
  for (const auto& r : runs) {
    if (std::find(units.begin(), units.end(), r.unit) == units.end()) units.push_back(r.unit);
    if (std::find(versions.begin(), versions.end(), r.firmware) == versions.end())
      versions.push_back(r.firmware);
  }
  if (!l.versionPattern.empty())
    limits.versionPattern = l.versionPattern;
  else if (versions.size() == 1 && !versions.front().empty())
    limits.version = versions.front();
  else
    return Complain("the golden panels have different firmware versions: give --version-pattern");
  std::ostringstream os;
  analysis::WriteLimits(limits, LimitsComment(l, units, link, kept, robust, summary), os);
  if (!WriteFileAtomically(l.output, os.str(), why)) return Complain(why);
  std::cerr << "vantrel: limits for " << limits.streams.size() << " stream(s) from " << units.size()
            << " panel(s) written to " << l.output << "\n";
  return kExitPass;
}

int RunLearn(const GlobalOptions& g, const LearnOptions& l) {
  std::vector<const StreamInfo*> streams;
  for (const std::string& name : l.streams) {
    const StreamInfo* s = StreamNamed(name);
    if (!s) return kExitCannotRun;
    if (std::find(streams.begin(), streams.end(), s) == streams.end()) streams.push_back(s);
  }
  if (streams.empty() && l.from.empty() && !l.fromResults)
    return Complain(
        "nothing to learn from: name the streams to measure, or give --from files "
        "or --from-results");
  if (l.output.empty() && l.add.empty())
    return Complain("give -o for the limits file, or --add for a learning file");
  if (!l.add.empty() && streams.empty())
    return Complain("--add measures the connected panel: name the streams to measure");
  std::vector<analysis::ElectrodeSelector> unused, exclude;
  std::string why;
  if (!ParseElectrodeList(l.unused, unused, why) || !ParseElectrodeList(l.exclude, exclude, why))
    return Complain(why);
  if (const std::string why = UnwritableOutput({&l.output, &l.add}); !why.empty())
    return Complain(why);

  // What was learnt before: the learning file and the statistics files given.
  std::vector<PanelRun> runs, fresh, checked, from;
  std::string kept;  // how the kept runs were chosen
  if (!LoadEarlier(l, exclude, runs, from, kept, why)) return Complain(why);
  std::string link;
  if (!streams.empty()) {
    int code = 0;
    if (!MeasureGoldenPanel(g, l, streams, UnitName(l, runs), fresh, checked, link, code))
      return code;
    for (auto& run : fresh) Exclude(run, exclude);
    for (auto& run : checked) Exclude(run, exclude);
  }
  // A golden panel with an open or shorted electrode would teach a fault as normal.
  if (const std::string list = FaultyPanels({&fresh, &checked, &from}, unused); !list.empty())
    return Complain("a golden panel must be sound; faulty electrodes:" + list +
                    "\nnothing learnt (--exclude leaves electrodes out of the learning, "
                    "--unused marks those the panel does not use)");

  runs.insert(runs.end(), fresh.begin(), fresh.end());
  if (!l.add.empty()) {
    if (!SaveRuns(l.add, runs, why)) return Complain(why);
    std::cerr << "vantrel: " << fresh.size() << " stream(s) of " << fresh.front().unit
              << " added to " << l.add << "\n";
  }
  if (l.output.empty()) return kExitPass;
  runs.insert(runs.end(), from.begin(), from.end());
  return WriteLearnt(l, runs, unused, link, kept);
}

// What is measured and the margins around it.
void AddMeasureOptions(CLI::App* learn, LearnOptions& l) {
  learn->add_option("streams", l.streams, kStreamHelp);
  learn->add_option("--scans", l.scans, "scans per stream (default 50)")
      ->check(CLI::Range(1, 10000000));
  learn
      ->add_option("--margin-sigma", l.margins.sigmas,
                   "mean limits: the panels' average +- this many standard deviations (of "
                   "the spread between panels, or of the noisiest panel's noise; default 6)")
      ->check(CLI::Range(0.0, 1000.0));
  learn
      ->add_option("--margin-factor", l.margins.factor,
                   "p2p_max and stddev_max: this times the noisiest panel's (default 2)")
      ->check(CLI::Range(1.0, 1000.0));
  learn
      ->add_option("--margin-floor", l.margins.floor,
                   "every margin is at least this many counts (default 2)")
      ->check(CLI::Range(0.0, 100000.0));
  learn->add_option("--version-pattern", l.versionPattern,
                    "expect firmware versions matching this pattern (* ? [..]) instead of "
                    "exactly the learnt panels'");
}

// Where earlier panels come from and where the limits go.
void AddSourceOptions(CLI::App* learn, LearnOptions& l) {
  learn->add_option("--add", l.add,
                    "add the connected panel's statistics to this learning file (created "
                    "when missing); with -o, learn from every panel in it");
  learn
      ->add_option("--from", l.from,
                   "learn from these files too: statistics of vantrel stats --json (one "
                   "panel each) or learning files")
      ->allow_extra_args(false);
  learn->add_option("--unit", l.unit, "the connected panel's name in the learning file");
  learn
      ->add_option("--unused", l.unused,
                   "electrodes the panel does not use, e.g. X36-X37,Y21: never checked")
      ->allow_extra_args(false);
  learn
      ->add_option("--exclude", l.exclude,
                   "electrodes left out of this learning (faulty on a golden panel)")
      ->allow_extra_args(false);
  learn->add_option("-o,--output", l.output, "limits file to write");
}

// Golden panels chosen from the results database.
void AddResultsOptions(CLI::App* learn, LearnOptions& l) {
  learn->add_flag("--from-results", l.fromResults,
                  "learn from kept runs (the results database): the newest self test of each "
                  "unit in --serials FILE, or of each unit that passed at --station since "
                  "--since; robust limits");
  learn->add_option("--results", l.results.url,
                    "with --from-results: the results database (sqlite:PATH, postgresql://...; "
                    "default: $VANTREL_RESULTS, else ~/.local/share/vantrel/results.db)");
  learn->add_option("--serials", l.results.serials,
                    "with --from-results: a file of the golden panels' serial numbers, one a line");
  learn->add_option("--station", l.results.station,
                    "with --from-results: the units that passed at this station");
  learn->add_option("--since", l.results.since,
                    "with --from-results --station: from this day on (YYYY-MM-DD, UTC)");
}

// Limits from the median and a robust spread.
void AddRobustOptions(CLI::App* learn, const std::shared_ptr<LearnOptions>& o) {
  LearnOptions& l = *o;
  learn->add_flag("--robust", l.robust,
                  "limits from the panels' median and a robust spread, --spread (always with "
                  "--from-results)");
  learn
      ->add_option_function<std::string>(
          "--spread",
          [o](const std::string& spread) {
            o->robust = true;
            o->robustMargins.spread =
                spread == "percentile" ? analysis::Spread::kPercentile : analysis::Spread::kMad;
          },
          "robust limits: the spread, mad (1.4826 x MAD, default) or percentile (the distance "
          "between --percentiles)")
      ->check(CLI::IsMember({"mad", "percentile"}));
  learn
      ->add_option_function<std::vector<double>>(
          "--percentiles",
          [o](const std::vector<double>& p) {
            o->robust = true;
            o->robustMargins.spread = analysis::Spread::kPercentile;
            o->robustMargins.low = p[0];
            o->robustMargins.high = p[1];
          },
          "robust limits from two percentiles, e.g. 10,90 (--spread percentile alone: "
          "25,75, sigma = interquartile range / 1.349)")
      ->expected(2)
      ->delimiter(',');
  learn
      ->add_option("--robust-k", l.robustMargins.k,
                   "robust limits: this many robust standard deviations from the median "
                   "(default 5)")
      ->check(CLI::Range(0.5, 100.0));
}

}  // namespace

Subcommand AddLearnCommand(CLI::App& app, const GlobalOptions& g) {
  auto o = std::make_shared<LearnOptions>();
  auto* learn = app.add_subcommand(
      "learn",
      "learn limits from known-good panels and write them as a limits file: the connected "
      "panel, statistics files (vantrel stats --json), or a learning file grown panel by "
      "panel with --add");
  AddMeasureOptions(learn, *o);
  AddSourceOptions(learn, *o);
  AddResultsOptions(learn, *o);
  AddRobustOptions(learn, o);
  Subcommand s{learn, [&g, o] { return RunLearn(g, *o); }};
  s.usesLink = [o] { return !o->streams.empty(); };
  return s;
}
