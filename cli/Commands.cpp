#include "cli/Commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include "analysis/AtomicFile.h"
#include "analysis/ElectrodeStats.h"
#include "analysis/Limits.h"
#include "analysis/LimitsCheck.h"
#include "capture/CCaptureRecorder.h"
#include "capture/HexCodec.h"
#include "cli/Interrupt.h"
#include "cli/LearnRuns.h"
#include "cli/SpcNote.h"
#include "cli/Reports.h"
#include "cli/TestRecord.h"
#include "hidpipe/hidpipe.h"
#include "records/FileHash.h"
#include "link/FrameCodec.h"
#include "link/SerialPortMap.h"

using analysis::ElectrodeStats;
using analysis::ScanLayout;
using analysis::StreamInfo;
using Result = ControllerSession::Result;

int Complain(const std::string& message, int code) {
  std::cerr << "vantrel: " << message << "\n";
  return code;
}

std::string UnwritableOutput(std::initializer_list<const std::string*> paths) {
  for (const std::string* p : paths) {
    std::string error;
    if (!p->empty() && !analysis::AtomicFile::CanWrite(*p, error)) return error;
  }
  return "";
}

namespace {

std::string Hex(const uint8_t* b, size_t n) {
  return capture::ToHex(std::span<const uint8_t>(b, n), ' ');
}

}  // namespace

nlohmann::json DeviceJson(const LinkDevice& d) {
  char id[8];
  nlohmann::json j = {{"node", d.node}, {"bus", d.bus}, {"serial", d.serial}, {"port", d.port}};
  std::snprintf(id, sizeof id, "%04X", d.vid);
  j["vid"] = id;
  std::snprintf(id, sizeof id, "%04X", d.pid);
  j["pid"] = id;
  j["interface"] = d.iface >= 0 ? nlohmann::json(d.iface) : nlohmann::json(nullptr);
  return j;
}

void SetDeviceProperties(analysis::TestReport& report, const LinkDevice& d) {
  if (d.node.empty()) return;
  char id[16];
  std::snprintf(id, sizeof id, "%04X:%04X", d.vid, d.pid);
  report.SetProperty("device", d.node);
  report.SetProperty("device_bus", d.bus);
  if (d.vid != 0 || d.pid != 0) report.SetProperty("device_id", id);
  if (d.iface >= 0) report.SetProperty("device_interface", std::to_string(d.iface));
  if (!d.serial.empty()) report.SetProperty("device_serial", d.serial);
  if (!d.port.empty()) report.SetProperty("device_port", d.port);
}

namespace {

int ExitFor(Result r) {
  switch (r) {
    case Result::kOk:
      return kExitPass;
    case Result::kInterrupted:
      return InterruptedExitCode();
    default:
      return kExitCannotRun;
  }
}

// Opens the controller; on failure says why (or gives the reason in `why`) and gives the
// exit code in `code`. A recorder given sees the whole session, the opening included.
std::unique_ptr<ControllerSession> Connect(
    const GlobalOptions& g, int& code,
    std::shared_ptr<capture::CCaptureRecorder> recorder = nullptr, std::string* why = nullptr) {
  auto s = std::make_unique<ControllerSession>(g.TimeoutMs());
  if (recorder) s->SetRecorder(recorder);
  const Result r = s->Open(g.link);
  if (r == Result::kOk) return s;
  code = ExitFor(r);
  if (why)
    *why = s->Error();
  else
    Complain(s->Error(), code);
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
  if (c.truncated > 0)
    std::cerr << "vantrel: " << stream << ": " << c.truncated
              << " truncated frame(s) left out\n";
  if (c.dropped > 0)
    std::cerr << "vantrel: " << stream << ": " << c.dropped
              << " frame(s) dropped: the output was too slow to keep up\n";
}

}  // namespace

int RunInfo(const GlobalOptions& g, bool json) {
  int code = 0;
  auto s = Connect(g, code);
  if (!s) return code;
  if (!s->PanelReported())
    return Complain("the controller reported no panel information (" + s->LinkText() + ")");
  if (!s->VersionReported())
    return Complain("the controller reported no firmware version (" + s->LinkText() + ")");
  const PanelInfo p = s->Panel();
  if (json) {
    nlohmann::json j = {{"link", s->LinkText()},
                        {"device", DeviceJson(s->Device())},
                        {"firmware_version", s->Version()},
                        {"panel",
                         {{"x_count", p.xCount},
                          {"y_count", p.yCount},
                          {"resolution", p.resolution},
                          {"x_range", p.xRange},
                          {"y_range", p.yRange},
                          {"reported", s->PanelReported()}}}};
    std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  } else {
    std::cout << "link:       " << s->LinkText() << "\n";
    if (!s->Device().node.empty()) std::cout << "device:     " << LinkDeviceText(s->Device()) << "\n";
    std::cout << "firmware:   " << s->Version() << "\n"
              << "panel:      " << p.xCount << " x " << p.yCount << " electrodes\n"
              << "resolution: " << p.resolution << "\n"
              << "range:      " << p.xRange << " x " << p.yRange << "\n";
  }
  return kExitPass;
}

int RunSend(const GlobalOptions& g, const std::string& cmd, bool raw) {
  // "SEND", blanks, the frame's bytes as pairs of hexadecimal digits, blanks.
  if (cmd.rfind("SEND", 0) == 0) {
    const size_t first = cmd.find_first_not_of(' ', 4);
    const size_t end = cmd.find_last_not_of(' ');
    const std::string hex =
        first == std::string::npos || first < 5 ? "" : cmd.substr(first, end + 1 - first);
    const bool ok =
        !hex.empty() && hex.size() % 2 == 0 && std::all_of(hex.begin(), hex.end(), [](char c) {
          return std::isxdigit(static_cast<unsigned char>(c));
        });
    if (!ok)
      return Complain("bad hex in \"" + cmd +
                      "\": after SEND and a blank, the frame's bytes as pairs of hexadecimal "
                      "digits, e.g. \"SEND 024C020400 \"");
  }
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
  recorder.Note(
      "link", std::string(capture::LinkKindName(capture::CCaptureRecorder::KindOf(s.LinkType()))) +
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
  // The CSV replaces an existing file only once scans were captured.
  analysis::AtomicFile file;
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

int RunStats(const GlobalOptions& g, const std::string& name, int scans, bool json,
             const std::string& csv) {
  const StreamInfo* stream = Stream(name);
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

namespace {

// Every report asked for; false (and said) when one could not be written.
bool WriteReports(const TestOptions& t, const analysis::TestReport& report) {
  bool ok = true;
  std::string error;
  auto write = [&](const std::string& path, const std::string& content) {
    if (path.empty() || WriteFileAtomically(path, content, error)) return;
    Complain(error);
    ok = false;
  };
  if (!t.junit.empty()) write(t.junit, JUnitXml(report));
  if (!t.csv.empty()) {
    std::ostringstream os;
    WriteChecksCsv(os, report);
    write(t.csv, os.str());
  }
  if (!t.json.empty())
    write(t.json,
          ReportJson(report).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
  return ok;
}

}  // namespace

int RunTest(const GlobalOptions& g, const TestOptions& given) {
  using Clock = std::chrono::steady_clock;
  TestOptions t = given;
  if (std::string why; !ExpandRunNames(t.record, {&t.junit, &t.csv, &t.json, &t.record.record}, why))
    return Complain(why);
  const auto started = Clock::now();
  auto since = [](Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
  };
  analysis::TestReport report;
  report.Begin();
  report.SetProperty("tool", std::string("vantrel ") + VANTREL_VERSION);
  if (!t.record.serial.empty()) report.SetProperty("serial", t.record.serial);
  if (!t.record.station.empty()) report.SetProperty("station", t.record.station);
  // A run that cannot measure says so in every report asked for: the last panel's
  // reports never stay behind.
  auto cannotRun = [&](const std::string& group, const std::string& why, int code) {
    report.errors.emplace_back(group, why);
    report.seconds = since(started);
    // A report path that cannot be written is named by the writer as it fails.
    if (group != "reports") Complain(why);
    WriteReports(t, report);
    std::cout << "NOT RUN: " << Printable(why) << "\n";
    return code;
  };
  if (const std::string why = UnwritableOutput({&t.junit, &t.csv, &t.json}); !why.empty())
    return cannotRun("reports", why, kExitCannotRun);

  analysis::Limits limits;
  analysis::LimitsError err;
  if (!analysis::LoadLimits(t.limits, limits, err))
    return cannotRun("limits", "bad limits file: " + err.Text(), kExitCannotRun);
  for (const analysis::StreamLimits& sl : limits.streams) {
    std::string why;
    if (sl.scans == 0 && !analysis::NoiseScansOk(sl, t.scans, why))
      return cannotRun("limits",
                       std::string("--scans ") + std::to_string(t.scans) + " for stream " +
                           sl.stream->name + ": " + why,
                       kExitCannotRun);
  }
  report.SetProperty("limits_sha256", records::FileSha256(t.limits));
  // With the counts in the file, a file that checks too little is found before connecting.
  const bool resolved = limits.xCount && limits.yCount;
  if (resolved && !analysis::CheckComplete(limits, err))
    return cannotRun("limits", "bad limits file: " + err.Text(), kExitCannotRun);

  int code = 0;
  TestRecord record(t.record, "test");
  if (!record.Begin(t.limits, code))
    return cannotRun("results", "the run could not be prepared for its record", code);
  std::string why;
  auto s = Connect(g, code, record.Recorder(), &why);
  if (!s) return cannotRun("controller", why, code);
  record.Opened(*s);
  SetDeviceProperties(report, s->Device());
  const PanelInfo p = s->Panel();
  const analysis::ControllerFacts facts{p.xCount, p.yCount, s->PanelReported(), s->Version(),
                                        s->VersionReported()};
  if (facts.versionReported) report.SetProperty("firmware", facts.version);
  analysis::CheckController(limits, facts, report.checks);
  // A panel that is not the one the file is for is a failed panel check; its electrodes
  // are not measured against limits meant for another panel.
  const bool panelOk = std::none_of(report.checks.begin(), report.checks.end(),
                                    [](const auto& c) { return c.group == "panel" && !c.pass; });
  // A file without the counts that names electrodes this panel lacks, or checks too
  // little of it, is a bad file.
  if (panelOk && (!analysis::ResolveLimits(limits, p.xCount, p.yCount, err) ||
                  (!resolved && !analysis::CheckComplete(limits, err)))) {
    s->Leave();
    return cannotRun("limits", "bad limits file: " + err.Text(), kExitCannotRun);
  }

  Result worst = Result::kOk;
  for (const analysis::StreamLimits& sl : limits.streams) {
    const std::string name = sl.stream->name;
    if (!panelOk) {
      report.skipped.emplace_back(name,
                                  "not measured: the panel is not the one of the limits file");
      continue;
    }
    if (worst != Result::kOk) {
      report.skipped.emplace_back(name, "not measured: an earlier stream could not be measured");
      continue;
    }
    const auto streamStarted = Clock::now();
    analysis::StatsOptions options;
    if (sl.openBelow) options.openBelow = *sl.openBelow;
    if (sl.shortAbove) options.shortAbove = *sl.shortAbove;
    ElectrodeStats stats(sl.layout, sl.stream->kind, options);
    ControllerSession::CaptureCounts counts;
    const Result r = Measure(
        *s, *sl.stream, sl.scans > 0 ? sl.scans : t.scans,
        [&](std::span<const int32_t> v) { stats.Add(v); }, counts);
    ReportIncomplete(name, counts);
    if (r == Result::kOk)
      analysis::CheckStream(sl, stats, report.checks);
    else
      report.errors.emplace_back(name, s->Error());
    report.AddSeconds(name, since(streamStarted));
    if (r != Result::kOk) worst = r;  // a controller that stopped answering will not answer on
  }
  s->Leave();

  report.seconds = since(started);
  WriteChecksTable(std::cout, report);
  const bool written = WriteReports(t, report);
  record.AddChecks(report.checks);
  const int failed = report.Failed();
  const std::string note = !report.errors.empty()
                               ? report.errors.front().first + ": " + report.errors.front().second
                           : report.checks.empty() ? "nothing was checked"
                                                   : "";
  // The verdict is shown before the run is kept: a slow results server cannot hold it.
  int verdictCode = kExitPass;
  if (worst != Result::kOk) {
    std::cout << "\nNOT RUN: " << Printable(report.errors.front().second) << "\n";
    verdictCode = ExitFor(worst);
  } else if (!written) {
    std::cout << "\nNOT RUN: a report could not be written\n";
    verdictCode = kExitCannotRun;
  } else if (failed > 0) {
    std::cout << "\nFAIL: " << failed << " of " << report.checks.size() << " checks failed\n";
    verdictCode = kExitFail;
  } else if (!report.Passed()) {
    std::cout << "\nNOT RUN: nothing was checked\n";
    verdictCode = kExitCannotRun;
  } else {
    std::cout << "\nPASS: " << report.checks.size() << " checks\n";
  }
  std::cout.flush();
  const int kept = record.Finish(!note.empty() ? "error" : failed ? "fail" : "pass", note,
                                 report.seconds, {&t.junit, &t.csv, &t.json});
  // Open drift alarms of the line, said (never a verdict) once the unit passed.
  if (verdictCode == kExitPass && t.spc && record.Begun())
    SpcNote(t.record.results, record.Run(), std::cout);
  // A run that could not be kept is said; it changes a verdict, never an error's code.
  return kept && (verdictCode == kExitPass || verdictCode == kExitFail) ? kept : verdictCode;
}

namespace {

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

}  // namespace

bool MeasureStreams(const GlobalOptions& g, const std::vector<const StreamInfo*>& streams,
                    int scans, std::vector<ElectrodeStats>& out, std::string& link, int& code) {
  auto s = Connect(g, code);
  if (!s) return false;
  if (!s->PanelReported()) {
    code = Complain("the controller reported no panel information: nothing measured");
    return false;
  }
  link = s->LinkText();
  const PanelInfo p = s->Panel();
  out.clear();
  for (const StreamInfo* stream : streams) {
    out.emplace_back(ScanLayout::For(*stream, p.xCount, p.yCount), stream->kind);
    ControllerSession::CaptureCounts counts;
    const Result r = Measure(
        *s, *stream, scans, [&](std::span<const int32_t> v) { out.back().Add(v); }, counts);
    ReportIncomplete(stream->name, counts);
    if (r != Result::kOk) {
      code = Complain(s->Error(), ExitFor(r));
      return false;
    }
  }
  s->Leave();
  return true;
}

int RunLearn(const GlobalOptions& g, const LearnOptions& l) {
  std::vector<const StreamInfo*> streams;
  for (const std::string& name : l.streams) {
    const StreamInfo* s = Stream(name);
    if (!s) return kExitCannotRun;
    if (std::find(streams.begin(), streams.end(), s) == streams.end()) streams.push_back(s);
  }
  if (streams.empty() && l.from.empty() && !l.fromResults)
    return Complain("nothing to learn from: name the streams to measure, or give --from files "
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
  std::vector<analysis::PanelRun> runs, fresh, checked;
  if (!l.add.empty() && ::access(l.add.c_str(), F_OK) == 0 && !LoadRuns(l.add, runs, why))
    return Complain(why);
  std::vector<analysis::PanelRun> from;
  for (const std::string& path : l.from)
    if (!LoadRuns(path, from, why)) return Complain(why);
  std::string kept;  // how the kept runs were chosen
  if (l.fromResults && !RunsFromResults(l.results, from, kept, why)) return Complain(why);
  for (auto& run : from) Exclude(run, exclude);

  std::string link;
  if (!streams.empty()) {
    std::string unit = l.unit;
    if (unit.empty()) {
      std::vector<std::string> units;
      for (const auto& r : runs)
        if (std::find(units.begin(), units.end(), r.unit) == units.end()) units.push_back(r.unit);
      unit = "panel " + std::to_string(units.size() + 1);
    }
    int code = 0;
    if (!MeasureGoldenPanel(g, l, streams, unit, fresh, checked, link, code)) return code;
    for (auto& run : fresh) Exclude(run, exclude);
    for (auto& run : checked) Exclude(run, exclude);
  }
  // A golden panel with an open or shorted electrode would teach a fault as normal.
  std::vector<analysis::PanelRun> look = fresh;
  look.insert(look.end(), checked.begin(), checked.end());
  look.insert(look.end(), from.begin(), from.end());
  const auto faulty = analysis::FaultyElectrodes(look, unused);
  if (!faulty.empty()) {
    std::string list;
    for (const auto& [unit, names] : faulty) list += "\n  " + unit + ": " + names;
    return Complain("a golden panel must be sound; faulty electrodes:" + list +
                    "\nnothing learnt (--exclude leaves electrodes out of the learning, "
                    "--unused marks those the panel does not use)");
  }

  if (!l.add.empty()) {
    runs.insert(runs.end(), fresh.begin(), fresh.end());
    if (!SaveRuns(l.add, runs, why)) return Complain(why);
    std::cerr << "vantrel: " << fresh.size() << " stream(s) of " << fresh.front().unit
              << " added to " << l.add << "\n";
  } else {
    runs.insert(runs.end(), fresh.begin(), fresh.end());
  }
  if (l.output.empty()) return kExitPass;
  runs.insert(runs.end(), from.begin(), from.end());

  analysis::Limits limits;
  const bool robust = l.robust || l.fromResults;
  analysis::RobustSummary summary;
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
  comment << "Edit freely: entries may name ranges (\"X0-X37\", \"Y\", \"all\"); later entries win.";
  std::ostringstream os;
  analysis::WriteLimits(limits, comment.str(), os);
  if (!WriteFileAtomically(l.output, os.str(), why)) return Complain(why);
  std::cerr << "vantrel: limits for " << limits.streams.size() << " stream(s) from " << units.size()
            << " panel(s) written to " << l.output << "\n";
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
