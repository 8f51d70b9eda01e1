#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <sstream>

#include "analysis/Limits.h"
#include "analysis/LimitsCheck.h"
#include "cli/Reports.h"
#include "cli/SpcNote.h"
#include "cli/Subcommands.h"
#include "cli/TestRecord.h"
#include "records/FileHash.h"

using analysis::ElectrodeStats;
using analysis::TestRun;
using Clock = std::chrono::steady_clock;
using Result = ControllerSession::Result;

namespace {

struct TestOptions {
  std::string limits;
  std::string junit;
  std::string csv;
  std::string json;      // the whole report as JSON
  int scans = 50;        // per stream, when the limits file gives none
  RecordOptions record;  // where and how the run is kept
  bool spc = false;      // after a pass, say so when the station has open drift alarms
};

double Since(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// Every report asked for; false (and said) when one could not be written.
bool WriteReports(const TestOptions& t, const TestRun& run) {
  return WriteRunReports(run, t.junit, t.csv, t.json).empty();
}

// A run that cannot measure says so in every report asked for: the last panel's reports
// never stay behind.
int CannotRun(const TestOptions& t, TestRun& run, Clock::time_point started,
              const std::string& group, const std::string& why, int code) {
  run.errors.emplace_back(group, why);
  run.durationS = Since(started);
  // A report path that cannot be written is named by the writer as it fails.
  if (group != "reports") Complain(why);
  WriteReports(t, run);
  std::cout << "NOT RUN: " << Printable(why) << "\n";
  return code;
}

// The limits file, loaded, its scans checked; false with why.
bool LoadTestLimits(const TestOptions& t, analysis::Limits& limits, std::string& why) {
  analysis::LimitsError err;
  if (!analysis::LoadLimits(t.limits, limits, err)) {
    why = "bad limits file: " + err.Text();
    return false;
  }
  for (const analysis::StreamLimits& sl : limits.streams) {
    std::string bad;
    if (sl.scans == 0 && !analysis::NoiseScansOk(sl, t.scans, bad)) {
      why = std::string("--scans ") + std::to_string(t.scans) + " for stream " + sl.stream->name +
            ": " + bad;
      return false;
    }
  }
  return true;
}

// Each stream of the limits measured and checked in turn; the worst result. A stream
// after one that could not be measured is skipped, as is every stream of a panel that is
// not the one of the limits file.
Result CheckStreams(ControllerSession& s, const analysis::Limits& limits, int scans, bool panelOk,
                    TestRun& run) {
  Result worst = Result::kOk;
  for (const analysis::StreamLimits& sl : limits.streams) {
    const std::string name = sl.stream->name;
    if (!panelOk) {
      run.skipped.emplace_back(name, "not measured: the panel is not the one of the limits file");
      continue;
    }
    if (worst != Result::kOk) {
      run.skipped.emplace_back(name, "not measured: an earlier stream could not be measured");
      continue;
    }
    const auto streamStarted = Clock::now();
    analysis::StatsOptions options;
    if (sl.openBelow) options.openBelow = *sl.openBelow;
    if (sl.shortAbove) options.shortAbove = *sl.shortAbove;
    ElectrodeStats stats(sl.layout, sl.stream->kind, options);
    ControllerSession::CaptureCounts counts;
    const Result r = Measure(
        s, *sl.stream, sl.scans > 0 ? sl.scans : scans,
        [&](std::span<const int32_t> v) { stats.Add(v); }, counts);
    ReportIncomplete(name, counts);
    if (r == Result::kOk)
      analysis::CheckStream(sl, stats, run.checks);
    else
      run.errors.emplace_back(name, s.Error());
    run.AddSeconds(name, Since(streamStarted));
    if (r != Result::kOk) worst = r;  // a controller that stopped answering will not answer on
  }
  return worst;
}

// The verdict on standard output; its exit code.
int SayVerdict(const TestRun& run, Result worst, bool written) {
  const int failed = run.Failed();
  int code = kExitPass;
  if (worst != Result::kOk) {
    std::cout << "\nNOT RUN: " << Printable(run.errors.front().second) << "\n";
    code = ExitFor(worst);
  } else if (!written) {
    std::cout << "\nNOT RUN: a report could not be written\n";
    code = kExitCannotRun;
  } else if (failed > 0) {
    std::cout << "\nFAIL: " << failed << " of " << run.checks.size() << " checks failed\n";
    code = kExitFail;
  } else if (!run.Passed()) {
    std::cout << "\nNOT RUN: nothing was checked\n";
    code = kExitCannotRun;
  } else {
    std::cout << "\nPASS: " << run.checks.size() << " checks\n";
  }
  std::cout.flush();
  return code;
}

int RunTest(const GlobalOptions& g, const TestOptions& given) {
  TestOptions t = given;
  if (std::string why;
      !ExpandRunNames(t.record, {&t.junit, &t.csv, &t.json, &t.record.record}, why))
    return Complain(why);
  const auto started = Clock::now();
  TestRecord record(t.record, "test");
  TestRun& run = record.Run();
  run.Begin();
  run.SetProperty("tool", std::string("vantrel ") + VANTREL_VERSION);
  if (!t.record.serial.empty()) run.SetProperty("serial", t.record.serial);
  if (!t.record.station.empty()) run.SetProperty("station", t.record.station);
  auto cannotRun = [&](const std::string& group, const std::string& why, int code) {
    return CannotRun(t, run, started, group, why, code);
  };
  if (const std::string why = UnwritableOutput({&t.junit, &t.csv, &t.json}); !why.empty())
    return cannotRun("reports", why, kExitCannotRun);
  analysis::Limits limits;
  if (std::string why; !LoadTestLimits(t, limits, why))
    return cannotRun("limits", why, kExitCannotRun);
  run.SetProperty("limits_sha256", records::FileSha256(t.limits));
  // With the counts in the file, a file that checks too little is found before connecting.
  const bool resolved = limits.xCount && limits.yCount;
  analysis::LimitsError err;
  if (resolved && !analysis::CheckComplete(limits, err))
    return cannotRun("limits", "bad limits file: " + err.Text(), kExitCannotRun);

  int code = 0;
  if (!record.Begin(t.limits, code))
    return cannotRun("results", "the run could not be prepared for its record", code);
  std::string why;
  auto s = Connect(g, code, record.Recorder(), &why);
  if (!s) return cannotRun("controller", why, code);
  record.Opened(*s);
  SetDeviceProperties(run, s->Device());
  const PanelInfo p = s->Panel();
  const analysis::ControllerFacts facts{p.xCount, p.yCount, s->PanelReported(), s->Version(),
                                        s->VersionReported()};
  if (facts.versionReported) run.SetProperty("firmware", facts.version);
  analysis::CheckController(limits, facts, run.checks);
  // A panel that is not the one the file is for is a failed panel check; its electrodes
  // are not measured against limits meant for another panel.
  const bool panelOk = std::none_of(run.checks.begin(), run.checks.end(),
                                    [](const auto& c) { return c.group == "panel" && !c.pass; });
  // A file without the counts that names electrodes this panel lacks, or checks too
  // little of it, is a bad file.
  if (panelOk && (!analysis::ResolveLimits(limits, p.xCount, p.yCount, err) ||
                  (!resolved && !analysis::CheckComplete(limits, err)))) {
    s->Leave();
    return cannotRun("limits", "bad limits file: " + err.Text(), kExitCannotRun);
  }
  const Result worst = CheckStreams(*s, limits, t.scans, panelOk, run);
  s->Leave();

  run.durationS = Since(started);
  WriteChecksTable(std::cout, run);
  const bool written = WriteReports(t, run);
  const std::string note = !run.errors.empty()
                               ? run.errors.front().first + ": " + run.errors.front().second
                           : run.checks.empty() ? "nothing was checked"
                                                : "";
  // The verdict is shown before the run is kept: a slow results server cannot hold it.
  const int verdictCode = SayVerdict(run, worst, written);
  const int kept = record.Finish(!note.empty()  ? "error"
                                 : run.Failed() ? "fail"
                                                : "pass",
                                 note, run.durationS, {&t.junit, &t.csv, &t.json});
  // Open drift alarms of the line, said (never a verdict) once the unit passed.
  if (verdictCode == kExitPass && t.spc && record.Begun())
    SpcNote(t.record.results, record.Run(), std::cout);
  // A run that could not be kept is said; it changes a verdict, never an error's code.
  return kept && (verdictCode == kExitPass || verdictCode == kExitFail) ? kept : verdictCode;
}

}  // namespace

Subcommand AddTestCommand(CLI::App& app, const GlobalOptions& g) {
  auto t = std::make_shared<TestOptions>();
  auto* test = app.add_subcommand("test",
                                  "self test against a limits file; exit 0 pass, "
                                  "1 fail, 2 could not run");
  test->add_option("--limits", t->limits, "limits file (TOML)")->required();
  test->add_option("--junit", t->junit, "write a JUnit XML report");
  test->add_option("--csv", t->csv, "write every check as CSV");
  test->add_option("--json", t->json, "write the whole report as JSON");
  test->add_option("--scans", t->scans, "scans per stream when the limits file gives none (50)")
      ->check(CLI::Range(1, 10000000));
  AddRecordOptions(test, t->record);
  test->add_flag("--spc", t->spc,
                 "after a pass, say when the station's kept runs show an open drift alarm "
                 "(never changes the verdict)");
  return {test, [&g, t] { return RunTest(g, *t); }};
}
