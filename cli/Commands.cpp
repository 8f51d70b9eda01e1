#include "cli/Commands.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "savefile/AtomicFile.h"
#include "capture/CCaptureRecorder.h"
#include "cli/Interrupt.h"

using analysis::ElectrodeStats;
using analysis::ScanLayout;
using analysis::StreamInfo;
using Result = ControllerSession::Result;

const char* const kStreamHelp =
    "data stream: m0-raw, m0-offset, m0-signal, m1x-raw, m1x-offset, m1x-signal, m1y-raw, "
    "m1y-offset, m1y-signal, open-short (X then Y), open-short-x, open-short-y";

int Complain(const std::string& message, int code) {
  std::cerr << "vantrel: " << message << "\n";
  return code;
}

std::string UnwritableOutput(std::initializer_list<const std::string*> paths) {
  for (const std::string* p : paths) {
    std::string error;
    if (!p->empty() && !savefile::AtomicFile::CanWrite(*p, error)) return error;
  }
  return "";
}

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

std::unique_ptr<ControllerSession> Connect(const GlobalOptions& g, int& code,
                                           std::shared_ptr<capture::CCaptureRecorder> recorder,
                                           std::string* why) {
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

const StreamInfo* StreamNamed(const std::string& name) {
  const StreamInfo* s = analysis::FindStream(name);
  if (!s)
    std::cerr << "vantrel: unknown stream \"" << name << "\" (known: " << analysis::StreamNames()
              << ")\n";
  return s;
}

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
    std::cerr << "vantrel: " << stream << ": " << c.truncated << " truncated frame(s) left out\n";
  if (c.dropped > 0)
    std::cerr << "vantrel: " << stream << ": " << c.dropped
              << " frame(s) dropped: the output was too slow to keep up\n";
}

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
