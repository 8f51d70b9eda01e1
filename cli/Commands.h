// What every subcommand of vantrel uses: exit codes, the link and time-out options, the
// table entry of a subcommand, complaints, and the steps of a measurement on the
// controller (connect, measure a stream, record the session).
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analysis/ElectrodeStats.h"
#include "cli/ControllerSession.h"

namespace capture {
class CCaptureRecorder;
}
namespace CLI {
class App;
}

enum ExitCode : int {
  kExitPass = 0,
  kExitFail = 1,       // a check failed, a reply was negative
  kExitCannotRun = 2,  // no controller, no answer, bad input
  kExitInterrupted = 130,
};

struct GlobalOptions {
  LinkChoice link;
  double timeoutS = 3;  // longest wait for an answer or a scan
  int TimeoutMs() const { return static_cast<int>(timeoutS * 1000); }
};

// A subcommand in vantrel's table: chosen when its command line was given, then run.
struct Subcommand {
  CLI::App* app = nullptr;
  std::function<int()> run;
  // Whether it opens the link (its configuration is checked before it runs).
  std::function<bool()> usesLink = [] { return true; };
  // Whether it was chosen, where that is more than its app given.
  std::function<bool()> chosen = nullptr;
};

// The help text of a stream argument.
extern const char* const kStreamHelp;

// "vantrel: message" on standard error; returns code.
int Complain(const std::string& message, int code = kExitCannotRun);
// Why the first output path given (empty ones left out) cannot be written; "" when all can.
std::string UnwritableOutput(std::initializer_list<const std::string*> paths);

// The device a run used, as info and the reports name it.
nlohmann::json DeviceJson(const LinkDevice& d);

// The exit code of a session's result.
int ExitFor(ControllerSession::Result r);
// Opens the controller; on failure says why (or gives the reason in `why`) and gives the
// exit code in `code`. A recorder given sees the whole session, the opening included.
std::unique_ptr<ControllerSession> Connect(
    const GlobalOptions& g, int& code,
    std::shared_ptr<capture::CCaptureRecorder> recorder = nullptr, std::string* why = nullptr);
// The stream of that name; said when there is none.
const analysis::StreamInfo* StreamNamed(const std::string& name);
// Measures `scans` complete scans of a stream. A stream of two parts (open/short X, then
// Y) runs both and joins the k-th scans of each.
ControllerSession::Result Measure(ControllerSession& s, const analysis::StreamInfo& stream,
                                  int scans, const ControllerSession::ScanFn& onScan,
                                  ControllerSession::CaptureCounts& counts);
// Says what was left out of a stream's scans.
void ReportIncomplete(const std::string& stream, const ControllerSession::CaptureCounts& c);
// Statistics of `scans` scans of each stream on the connected panel, in order; false with
// the exit code (said) when it cannot. link: the link used.
bool MeasureStreams(const GlobalOptions& g, const std::vector<const analysis::StreamInfo*>& streams,
                    int scans, std::vector<analysis::ElectrodeStats>& out, std::string& link,
                    int& code);

// A capture file of the whole session (said, with the exit code in code, when it cannot be
// started); the link, firmware and panel notes once open; its end (0 or an exit code).
std::shared_ptr<capture::CCaptureRecorder> StartRecording(const std::string& path, int& code);
void NoteOpened(capture::CCaptureRecorder& recorder, const ControllerSession& s);
int FinishRecording(capture::CCaptureRecorder& recorder);
