// The subcommands of vantrel. Each returns the program's exit code.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/LimitsLearn.h"
#include "analysis/LimitsRobust.h"
#include "analysis/TestReport.h"
#include "cli/LearnFromResults.h"
#include "cli/ControllerSession.h"
#include "cli/TestRecord.h"

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

struct TestOptions {
  std::string limits;
  std::string junit;
  std::string csv;
  std::string json;     // the whole report as JSON
  int scans = 50;  // per stream, when the limits file gives none
  RecordOptions record;  // where and how the run is kept
  bool spc = false;      // after a pass, say so when the station has open drift alarms
};

struct LearnOptions {
  std::vector<std::string> streams;  // measured on the connected panel
  int scans = 50;
  analysis::Margins margins;
  std::string versionPattern;  // written instead of the exact version when given
  std::string output;
  std::string add;                 // learning file the measured panel is added to
  std::vector<std::string> from;   // statistics or learning files learnt from too
  std::string unit;                // the measured panel's name in the learning file
  std::vector<std::string> unused;   // electrodes the panel does not use ("X36-X37,Y0")
  std::vector<std::string> exclude;  // electrodes left out of this learning
  bool fromResults = false;          // golden panels from the kept runs
  ResultsSelection results;
  bool robust = false;  // median and 1.4826 x MAD (always for kept runs)
  analysis::RobustMargins robustMargins;
};

// The device a run used, as info and the reports name it.
nlohmann::json DeviceJson(const LinkDevice& d);
void SetDeviceProperties(analysis::TestReport& report, const LinkDevice& d);

int RunInfo(const GlobalOptions& g, bool json);
int RunSend(const GlobalOptions& g, const std::string& cmd, bool raw);
// record: a capture file of the session (empty: none).
int RunCapture(const GlobalOptions& g, const std::string& stream, int scans,
               const std::string& csv, const std::string& record);
int RunStats(const GlobalOptions& g, const std::string& stream, int scans, bool json,
             const std::string& csv);
int RunTest(const GlobalOptions& g, const TestOptions& t);
int RunLearn(const GlobalOptions& g, const LearnOptions& l);
int RunCalibrate(const GlobalOptions& g, double timeoutS);
// Statistics of `scans` scans of each stream on the connected panel, in order; false with
// the exit code (said) when it cannot. link: the link used.
bool MeasureStreams(const GlobalOptions& g, const std::vector<const analysis::StreamInfo*>& streams,
                    int scans, std::vector<analysis::ElectrodeStats>& out, std::string& link,
                    int& code);

// "vantrel: message" on standard error; returns code.
int Complain(const std::string& message, int code = kExitCannotRun);
// Why the first output path given (empty ones left out) cannot be written; "" when all can.
std::string UnwritableOutput(std::initializer_list<const std::string*> paths);

// A capture file of the whole session (said, with the exit code in code, when it cannot be
// started); the link, firmware and panel notes once open; its end (0 or an exit code).
std::shared_ptr<capture::CCaptureRecorder> StartRecording(const std::string& path, int& code);
void NoteOpened(capture::CCaptureRecorder& recorder, const ControllerSession& s);
int FinishRecording(capture::CCaptureRecorder& recorder);
