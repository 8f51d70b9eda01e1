#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>
#include <memory>

#include "savefile/AtomicFile.h"
#include "capture/CCaptureRecorder.h"
#include "cli/CaptureConvert.h"
#include "cli/Interrupt.h"
#include "cli/Reports.h"
#include "cli/Subcommands.h"

using analysis::ScanLayout;
using analysis::StreamInfo;
using Result = ControllerSession::Result;

namespace {

int RunCapture(const GlobalOptions& g, const std::string& name, int scans, const std::string& csv,
               const std::string& record) {
  const StreamInfo* stream = StreamNamed(name);
  if (!stream) return kExitCannotRun;
  // The CSV replaces an existing file only once scans were captured.
  savefile::AtomicFile file;
  std::string error;
  if (!csv.empty() && !file.Open(csv, error)) return Complain(error);
  // With only a capture file asked for, no CSV is written at all.
  std::ostream* out = !csv.empty() ? &file.Stream() : record.empty() ? &std::cout : nullptr;
  int code = 0;
  std::shared_ptr<capture::CCaptureRecorder> recorder;
  if (!record.empty() && !(recorder = StartRecording(record, code))) return code;
  auto s = Connect(g, code, recorder);
  if (!s) {
    if (recorder) recorder->Stop();
    return code;
  }
  if (recorder) NoteOpened(*recorder, *s);
  const PanelInfo p = s->Panel();
  if (out) WriteScanHeader(*out, ScanLayout::For(*stream, p.xCount, p.yCount));
  long row = 0;
  bool outputFailed = false;
  ControllerSession::CaptureCounts counts;
  const Result r = Measure(
      *s, *stream, scans,
      [&](std::span<const int32_t> v) {
        if (!out || outputFailed) return;
        WriteScanRow(*out, ++row, v);
        out->flush();  // nothing captured is lost if the run ends early
        if (!*out) {
          // A reader that went away, or a full disk: stop, and leave the controller.
          outputFailed = true;
          Interrupt(SIGPIPE);
        }
      },
      counts);
  ReportIncomplete(name, counts);
  const std::string failure = s->Error();
  s.reset();  // the stream stopped, coordinates given back, the link closed
  if (outputFailed && csv.empty()) {
    if (recorder) FinishRecording(*recorder);
    return 128 + SIGPIPE;
  }
  if (outputFailed) return Complain("cannot write " + csv);
  if (!csv.empty() && row > 0 && !file.Commit(error)) return Complain(error);
  if (r != Result::kOk) {
    if (recorder) recorder->Stop();
    return Complain(failure, ExitFor(r));
  }
  if (recorder) return FinishRecording(*recorder);
  return kExitPass;
}

}  // namespace

Subcommand AddCaptureCommand(CLI::App& app, const GlobalOptions& g) {
  struct Options {
    std::string stream, csv, record;
    int scans = 50;
    ConvertArgs convert;
  };
  auto o = std::make_shared<Options>();
  auto* sub = app.add_subcommand("capture",
                                 "N complete scans of a stream as CSV (one row "
                                 "per scan, one column per electrode)");
  // Not marked required: "convert" below would be taken for it.
  sub->add_option("stream", o->stream, std::string(kStreamHelp) + " (required)");
  sub->add_option("--scans", o->scans, "complete scans (default 50)")
      ->check(CLI::Range(1, 10000000));
  sub->add_option("--csv", o->csv, "CSV file (default: standard output)");
  sub->add_option("--record", o->record,
                  "also record the whole session as a capture file (a name ending in "
                  ".zst is compressed); without --csv no CSV is written");
  CLI::App* convert = AddCaptureConvert(*sub, o->convert);
  Subcommand s{sub, [&g, o, convert] {
                 if (*convert) return RunCaptureConvert(o->convert);
                 if (o->stream.empty()) {
                   std::cerr << "stream is required\nRun with --help for more information.\n";
                   return static_cast<int>(kExitCannotRun);
                 }
                 return RunCapture(g, o->stream, o->scans, o->csv, o->record);
               }};
  s.usesLink = [convert] { return !*convert; };
  return s;
}
