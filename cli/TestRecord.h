// The record of one test run on its way to the reports and the results database: who,
// where, with what, every check, the verdict; kept where --results says once the run is
// over.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/TransTypes.h"
#include "records/RunKeeper.h"
#include "records/RunRecord.h"

namespace CLI {
class App;
}
namespace capture {
class CCaptureRecorder;
}
class ControllerSession;

struct RecordOptions {
  std::string results;       // --results URL ("" the default)
  std::string serial;        // the unit
  std::string station;       // "" the host name
  std::string operatorName;  // "" the login name
  std::string record;        // a capture file of the run
  std::string runId, startedUtc;  // set by ExpandRunNames ("" for new ones at Begin)
};

// Gives the run its id and time and puts them, the serial and the station into the file
// names given: {serial}, {station}, {time} (20261209T031800Z) and {run}, each made safe
// for a file name. False with why for another {name}.
bool ExpandRunNames(RecordOptions& o, const std::vector<std::string*>& names, std::string& why);

// --results, --operator, --record (and --serial, --station) on a test subcommand.
void AddRecordOptions(CLI::App* sub, RecordOptions& o);

// The device a run used, as the reports' properties name it.
void SetDeviceProperties(analysis::TestRun& run, const LinkDevice& d);

class TestRecord {
 public:
  TestRecord(RecordOptions o, std::string kind);
  ~TestRecord();

  // Before anything is measured: --results understood (a SQLite database opened) and the
  // capture file started (never over an existing file: a kept run may refer to it).
  // False, said, with the exit code in code.
  bool Begin(const std::string& limitsPath, int& code);
  // The capture recorder for the session (null without --record).
  std::shared_ptr<capture::CCaptureRecorder> Recorder() const { return recorder_; }
  // Firmware and panel, once the controller is open.
  void Opened(const ControllerSession& s);
  // Keeps the run (call once the link is closed, so the capture is whole). 0, or the exit
  // code of a run that could not be kept anywhere or whose capture failed (said). A run
  // no store took is written as JSON beside the first of reports (else in the current
  // folder), and the file named.
  int Finish(const std::string& verdict, const std::string& note, double seconds,
             const std::vector<const std::string*>& reports = {});

  // The run's one record: its checks and notes are added to it as they come, and the
  // reports are written from it.
  records::RunRecord& Run() { return run_; }
  const records::RunRecord& Run() const { return run_; }
  // The device the run was measured on (node empty before Opened).
  const LinkDevice& Device() const { return device_; }
  bool Begun() const { return !run_.uuid.empty(); }
  // Whether the run is kept anywhere (not --results none).
  bool Keeps() const;
  // Whether a controller was opened for the run (Opened was called).
  bool Measured() const { return measured_; }

 private:
  // Writes the run as JSON beside the first report that is a file; its path, or "".
  std::string SaveBeside(const std::vector<const std::string*>& reports,
                         std::string& error) const;

  RecordOptions o_;
  records::RunRecord run_;
  LinkDevice device_;
  bool measured_ = false;
  std::unique_ptr<records::RunKeeper> keeper_;
  std::shared_ptr<capture::CCaptureRecorder> recorder_;
};
