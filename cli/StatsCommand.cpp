#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <sstream>

#include "cli/LearnRuns.h"
#include "cli/Reports.h"
#include "cli/Subcommands.h"

using analysis::ElectrodeStats;
using analysis::ScanLayout;
using analysis::StreamInfo;
using Result = ControllerSession::Result;

namespace {

int RunStats(const GlobalOptions& g, const std::string& name, int scans, bool json,
             const std::string& csv) {
  const StreamInfo* stream = StreamNamed(name);
  if (!stream) return kExitCannotRun;
  if (const std::string why = UnwritableOutput({&csv}); !why.empty()) return Complain(why);
  int code = 0;
  auto s = Connect(g, code);
  if (!s) return code;
  const PanelInfo p = s->Panel();
  ElectrodeStats stats(ScanLayout::For(*stream, p.xCount, p.yCount), stream->kind);
  ControllerSession::CaptureCounts counts;
  const Result r = Measure(
      *s, *stream, scans, [&](std::span<const int32_t> v) { stats.Add(v); }, counts);
  ReportIncomplete(name, counts);
  if (r != Result::kOk) return Complain(s->Error(), ExitFor(r));
  if (!csv.empty()) {
    std::ostringstream os;
    WriteStatsCsv(os, stats);
    std::string error;
    if (!WriteFileAtomically(csv, os.str(), error)) return Complain(error);
  }
  if (json) {
    const nlohmann::json j =
        StatsDocument(name, stats, counts.incomplete, s->Version(), p.xCount, p.yCount);
    std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  } else if (csv.empty()) {
    std::cout << name << ": " << stats.Scans() << " scans, " << counts.incomplete
              << " incomplete\n";
    WriteStatsTable(std::cout, stats);
  }
  return kExitPass;
}

}  // namespace

Subcommand AddStatsCommand(CLI::App& app, const GlobalOptions& g) {
  struct Options {
    std::string stream, csv;
    int scans = 50;
    bool json = false;
  };
  auto o = std::make_shared<Options>();
  auto* sub = app.add_subcommand("stats",
                                 "per-electrode statistics of N scans: min, max, "
                                 "mean, stddev, p2p (SNR for signal data, open/short "
                                 "state)");
  sub->add_option("stream", o->stream, kStreamHelp)->required();
  sub->add_option("--scans", o->scans, "complete scans (default 50)")
      ->check(CLI::Range(1, 10000000));
  auto* json = sub->add_flag("--json", o->json, "as JSON on standard output");
  sub->add_option("--csv", o->csv, "write the table as CSV to this file")->excludes(json);
  return {sub, [&g, o] { return RunStats(g, o->stream, o->scans, o->json, o->csv); }};
}
