#include "cli/Commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include "analysis/ElectrodeStats.h"
#include "analysis/Limits.h"
#include "analysis/LimitsCheck.h"
#include "capture/CCaptureRecorder.h"
#include "capture/HexCodec.h"
#include "cli/Interrupt.h"
#include "cli/Reports.h"
#include "cli/TestRecord.h"
#include "hidpipe/hidpipe.h"
#include "link/FrameCodec.h"
#include "link/SerialPortMap.h"

using analysis::ElectrodeStats;
using analysis::ScanLayout;
using analysis::StreamInfo;
using Result = ControllerSession::Result;

namespace {

std::string Hex(const uint8_t* b, size_t n) {
  return capture::ToHex(std::span<const uint8_t>(b, n), ' ');
}

int ExitFor(Result r) {
  switch (r) {
    case Result::kOk:
      return kExitPass;
    case Result::kInterrupted:
      return kExitInterrupted;
    default:
      return kExitCannotRun;
  }
}

int Complain(const std::string& message, int code = kExitCannotRun) {
  std::cerr << "vantrel: " << message << "\n";
  return code;
}

// Opens the controller; on failure says why and gives the exit code in `code`. A recorder
// given sees the whole session, the opening included.
std::unique_ptr<ControllerSession> Connect(
    const GlobalOptions& g, int& code,
    std::shared_ptr<capture::CCaptureRecorder> recorder = nullptr) {
  auto s = std::make_unique<ControllerSession>(g.TimeoutMs());
  if (recorder) s->SetRecorder(recorder);
  const Result r = s->Open(g.link);
  if (r == Result::kOk) return s;
  code = Complain(s->Error(), ExitFor(r));
  return nullptr;
}

const StreamInfo* Stream(const std::string& name) {
  const StreamInfo* s = analysis::FindStream(name);
  if (!s)
    std::cerr << "vantrel: unknown stream \"" << name << "\" (known: " << analysis::StreamNames()
              << ")\n";
  return s;
}

// Measures `scans` complete scans of a stream. A stream of two parts (open/short X, then
// Y) runs both and joins the k-th scans of each.
Result Measure(ControllerSession& s, const StreamInfo& stream, int scans,
               const ControllerSession::ScanFn& onScan, ControllerSession::CaptureCounts& counts) {
  if (stream.partCount == 1) return s.Capture(stream.parts[0], stream.name, scans, onScan, counts);
  const PanelInfo p = s.Panel();
  std::vector<std::vector<int32_t>> first;
  Result r = s.Capture(
      stream.parts[0], std::string(stream.name) + " X", scans,
      [&](std::span<const int32_t> v) { first.emplace_back(v.begin(), v.end()); }, counts);
  if (r != Result::kOk) return r;
  const ScanLayout layout = ScanLayout::For(stream, p.xCount, p.yCount);
  std::vector<int32_t> joined(static_cast<size_t>(layout.Size()));
  size_t k = 0;
  return s.Capture(
      stream.parts[1], std::string(stream.name) + " Y", scans,
      [&](std::span<const int32_t> v) {
        std::copy(first[k].begin(), first[k].end(), joined.begin());
        std::copy(v.begin(), v.end(), joined.begin() + static_cast<long>(first[k].size()));
        ++k;
        onScan(joined);
      },
      counts);
}

void ReportIncomplete(const std::string& stream, const ControllerSession::CaptureCounts& c) {
  if (c.incomplete > 0)
    std::cerr << "vantrel: " << stream << ": " << c.incomplete
              << " incomplete scan(s) left out (gap or restart)\n";
}

}  // namespace

int RunInfo(const GlobalOptions& g, bool json) {
  int code = 0;
  auto s = Connect(g, code);
  if (!s) return code;
  const PanelInfo p = s->Panel();
  if (json) {
    nlohmann::json j = {{"link", s->LinkText()},
                        {"firmware_version", s->Version()},
                        {"panel",
                         {{"x_count", p.xCount},
                          {"y_count", p.yCount},
                          {"resolution", p.resolution},
                          {"x_range", p.xRange},
                          {"y_range", p.yRange},
                          {"reported", s->PanelReported()}}}};
    std::cout << j.dump(2) << "\n";
  } else {
    std::cout << "link:       " << s->LinkText() << "\n"
              << "firmware:   " << s->Version() << "\n"
              << "panel:      " << p.xCount << " x " << p.yCount << " electrodes"
              << (s->PanelReported() ? "" : " (configured; the controller reported none)") << "\n"
              << "resolution: " << p.resolution << "\n"
              << "range:      " << p.xRange << " x " << p.yRange << "\n";
  }
  return kExitPass;
}

int RunSend(const GlobalOptions& g, const std::string& cmd, bool raw) {
  int code = 0;
  auto s = Connect(g, code);
  if (!s) return code;
  ControllerSession::Frame f;
  const Result r = s->Exchange(cmd, g.TimeoutMs(), &f);
  if (!f.empty() && f[1] == 0x4E && f[3] != 0x80 && r == Result::kOk) s->MarkStreamStarted();
  if (f.empty()) return Complain(s->Error(), ExitFor(r));
  char head[32];
  std::snprintf(head, sizeof head, "reply %02X/%02X: ", f[1], f[3]);
  std::string text = head;
  PanelInfo panel;
  if (f[1] == 0x4C && f[3] == 0x04) {
    std::string version;
    FrameCodec::ParseVersion(f.data(), static_cast<int>(f.size()), version);
    text += "version \"" + version + "\"";
  } else if (f[1] == 0x4C && f[3] == 0x06 &&
             FrameCodec::ParsePanelInfo(f.data(), static_cast<int>(f.size()), panel) ==
                 FrameCodec::PanelResult::kValid) {
    text += "panel " + std::to_string(panel.xCount) + " x " + std::to_string(panel.yCount) +
            ", resolution " + std::to_string(panel.resolution);
    if (f.size() >= 17)
      text += ", range " + std::to_string(panel.xRange) + " x " + std::to_string(panel.yRange);
  } else {
    text += r == Result::kOk ? "OK" : "NOT OK";
    if (f.size() > 5) text += ", data " + Hex(f.data() + 5, f.size() - 5);
  }
  std::cout << text << "\n";
  if (raw) std::cout << "raw: " << Hex(f.data(), f.size()) << "\n";
  return r == Result::kOk ? kExitPass : kExitFail;
}

// The capture file of `vantrel capture --record`: the whole exchange with the controller.
std::shared_ptr<capture::CCaptureRecorder> StartRecording(const std::string& path, int& code) {
  auto recorder = std::make_shared<capture::CCaptureRecorder>();
  capture::Header h;
  h.program = std::string("vantrel ") + VANTREL_VERSION;
  std::string error;
  if (recorder->Start(path, h, error)) return recorder;
  code = Complain("cannot record: " + error);
  return nullptr;
}

// The link, firmware and panel lines, known once the controller is open.
void NoteOpened(capture::CCaptureRecorder& recorder, const ControllerSession& s) {
  recorder.Note("link",
                std::string(capture::LinkKindName(capture::CCaptureRecorder::KindOf(s.LinkType()))) +
                    " " + s.LinkDescription());
  recorder.Note("firmware", s.Version());
  recorder.Note("panel", capture::CCaptureRecorder::PanelText(s.Panel()));
}

// Ends a recording; 0, or the exit code of a recording that lost frames or failed.
int FinishRecording(capture::CCaptureRecorder& recorder) {
  const bool ok = recorder.Stop();
  const auto stats = recorder.GetStats();
  if (!ok) return Complain("recording stopped: " + stats.error);
  if (stats.dropped > 0)
    return Complain(std::to_string(stats.dropped) + " frames could not be recorded in " +
                    stats.path + ": the disk was too slow");
  return kExitPass;
}

int RunCapture(const GlobalOptions& g, const std::string& name, int scans, const std::string& csv,
               const std::string& record) {
  const StreamInfo* stream = Stream(name);
  if (!stream) return kExitCannotRun;
  std::ofstream file;
  if (!csv.empty()) {
    file.open(csv, std::ios::binary | std::ios::trunc);
    if (!file) return Complain("cannot write " + csv);
  }
  // With only a capture file asked for, no CSV goes to standard output.
  std::ostringstream discard;
  std::ostream& out = !csv.empty() ? static_cast<std::ostream&>(file)
                      : record.empty() ? static_cast<std::ostream&>(std::cout)
                                       : discard;
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
  WriteScanHeader(out, ScanLayout::For(*stream, p.xCount, p.yCount));
  long row = 0;
  ControllerSession::CaptureCounts counts;
  const Result r = Measure(
      *s, *stream, scans,
      [&](std::span<const int32_t> v) {
        WriteScanRow(out, ++row, v);
        out.flush();  // nothing captured is lost if the run ends early
      },
      counts);
  ReportIncomplete(name, counts);
  if (!out) return Complain("cannot write " + (csv.empty() ? std::string("the output") : csv));
  if (r != Result::kOk) return Complain(s->Error(), ExitFor(r));
  if (recorder) {
    s.reset();  // the stream stopped and the link closed: those frames are in the file too
    return FinishRecording(*recorder);
  }
  return kExitPass;
}

int RunStats(const GlobalOptions& g, const std::string& name, int scans, bool json,
             const std::string& csv) {
  const StreamInfo* stream = Stream(name);
  if (!stream) return kExitCannotRun;
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
    nlohmann::json j = {{"stream", name},
                        {"scans", stats.Scans()},
                        {"incomplete_scans", counts.incomplete},
                        {"electrodes", StatsJson(stats)}};
    if (stream->kind == analysis::StreamKind::kSignal) j["touched_scans"] = stats.TouchedScans();
    std::cout << j.dump(2) << "\n";
  } else if (csv.empty()) {
    std::cout << name << ": " << stats.Scans() << " scans, " << counts.incomplete
              << " incomplete\n";
    WriteStatsTable(std::cout, stats);
  }
  return kExitPass;
}

int RunTest(const GlobalOptions& g, const TestOptions& t) {
  const auto started = std::chrono::steady_clock::now();
  analysis::Limits limits;
  analysis::LimitsError err;
  if (!analysis::LoadLimits(t.limits, limits, err))
    return Complain("bad limits file: " + err.Text());
  int code = 0;
  TestRecord record(t.record, "test");
  if (!record.Begin(t.limits, code)) return code;
  auto s = Connect(g, code, record.Recorder());
  if (!s) return code;
  record.Opened(*s);
  const PanelInfo p = s->Panel();
  if (!analysis::ResolveLimits(limits, p.xCount, p.yCount, err))
    return Complain("bad limits file: " + err.Text());

  std::vector<analysis::CheckResult> checks;
  std::map<std::string, std::string> errors;
  analysis::CheckController(limits, p.xCount, p.yCount, s->Version(), checks);
  Result worst = Result::kOk;
  for (const analysis::StreamLimits& sl : limits.streams) {
    analysis::StatsOptions options;
    if (sl.openBelow) options.openBelow = *sl.openBelow;
    if (sl.shortAbove) options.shortAbove = *sl.shortAbove;
    ElectrodeStats stats(sl.layout, sl.stream->kind, options);
    ControllerSession::CaptureCounts counts;
    const Result r = Measure(
        *s, *sl.stream, sl.scans > 0 ? sl.scans : t.scans,
        [&](std::span<const int32_t> v) { stats.Add(v); }, counts);
    ReportIncomplete(sl.stream->name, counts);
    if (r != Result::kOk) {
      errors[sl.stream->name] = s->Error();
      worst = r;
      break;  // a controller that stopped answering will not answer the next stream
    }
    analysis::CheckStream(sl, stats, checks);
  }
  s->Leave();

  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  int failed = 0;
  for (const auto& c : checks) failed += c.pass ? 0 : 1;
  WriteChecksTable(std::cout, checks, errors);
  std::string error;
  if (!t.junit.empty() && !WriteJUnit(t.junit, checks, errors, secs, error)) {
    Complain(error);
    worst = Result::kNotSent;
  }
  if (!t.csv.empty()) {
    std::ostringstream os;
    WriteChecksCsv(os, checks);
    if (!WriteFileAtomically(t.csv, os.str(), error)) {
      Complain(error);
      worst = Result::kNotSent;
    }
  }
  record.AddChecks(checks);
  const std::string note = worst != Result::kOk && !errors.empty()
                               ? errors.begin()->first + ": " + errors.begin()->second
                               : "";
  const int kept = record.Finish(!note.empty() ? "error" : failed ? "fail" : "pass", note, secs);
  if (worst != Result::kOk) {
    std::cout << "\nNOT RUN: " << (errors.empty() ? error : errors.begin()->second) << "\n";
    return ExitFor(worst);
  }
  if (failed > 0) {
    std::cout << "\nFAIL: " << failed << " of " << checks.size() << " checks failed\n";
    return kept ? kept : kExitFail;
  }
  std::cout << "\nPASS: " << checks.size() << " checks\n";
  return kept ? kept : kExitPass;
}

int RunLearn(const GlobalOptions& g, const LearnOptions& l) {
  std::vector<const StreamInfo*> streams;
  for (const std::string& name : l.streams) {
    const StreamInfo* s = Stream(name);
    if (!s) return kExitCannotRun;
    if (std::find(streams.begin(), streams.end(), s) == streams.end()) streams.push_back(s);
  }
  int code = 0;
  auto s = Connect(g, code);
  if (!s) return code;
  const PanelInfo p = s->Panel();
  analysis::Limits limits;
  limits.xCount = p.xCount;
  limits.yCount = p.yCount;
  if (l.versionPattern.empty())
    limits.version = s->Version();
  else
    limits.versionPattern = l.versionPattern;
  for (const StreamInfo* stream : streams) {
    ElectrodeStats stats(ScanLayout::For(*stream, p.xCount, p.yCount), stream->kind);
    ControllerSession::CaptureCounts counts;
    const Result r = Measure(
        *s, *stream, l.scans, [&](std::span<const int32_t> v) { stats.Add(v); }, counts);
    ReportIncomplete(stream->name, counts);
    if (r != Result::kOk) return Complain(s->Error(), ExitFor(r));
    limits.streams.push_back(analysis::LearnStream(*stream, stats, l.scans, l.margins));
  }
  s->Leave();
  char date[32] = "";
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  std::ostringstream comment;
  comment
      << "Limits learnt by vantrel " << VANTREL_VERSION << " on " << date << " from " << l.scans
      << " scans per stream\n"
      << "of a known-good panel (" << s->LinkText() << ", firmware \"" << s->Version() << "\").\n"
      << "Margins: mean +- max(" << analysis::FormatNumber(l.margins.sigmas) << " x stddev, "
      << analysis::FormatNumber(l.margins.floor) << "), p2p_max and stddev_max "
      << analysis::FormatNumber(l.margins.factor) << " x the learnt value (at least +"
      << analysis::FormatNumber(l.margins.floor) << ").\n"
      << "Edit freely: entries may name ranges (\"X0-X37\", \"Y\", \"all\"); later entries win.";
  std::ostringstream os;
  analysis::WriteLimits(limits, comment.str(), os);
  std::string error;
  if (!WriteFileAtomically(l.output, os.str(), error)) return Complain(error);
  std::cerr << "vantrel: limits for " << streams.size() << " stream(s) written to " << l.output
            << "\n";
  return kExitPass;
}

int RunCalibrate(const GlobalOptions& g, double timeoutS) {
  int code = 0;
  auto s = Connect(g, code);
  if (!s) return code;
  std::cerr << "Calibration: Do not touch the glass!       Please wait ...\n";
  const Result r = s->Exchange("SEND 024C0101 ", static_cast<int>(timeoutS * 1000));
  if (r == Result::kOk) {
    std::cerr << "Calibration finished.\n";
    return kExitPass;
  }
  if (r == Result::kRefused) {
    std::cerr << "Calibration: ERROR ! Firmware's response is NOT OK.\n";
    return kExitFail;
  }
  return Complain(s->Error(), ExitFor(r));
}
