// One run of a production test (a self test, a touch test, a noise sweep): the unit, where
// and when it was tested, with what, every check with its limits and verdict, the groups
// that could not be measured, and the verdict. The report writers and the results store
// all take this one record.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "analysis/Check.h"

namespace analysis {

struct TestRun {
  using Note = std::pair<std::string, std::string>;  // group, why

  // What is kept of every run.
  std::string uuid;           // unique key of the run everywhere it is stored
  std::string kind = "test";  // "test" (self test), "touch" or "noise" (noise sweep)
  std::string serial;
  std::string station;
  std::string operatorName;
  std::string startedUtc;  // "2026-12-08T13:21:49.123Z"
  std::string toolVersion;
  std::string firmwareVersion;
  // The device measured: "/dev/hidraw3 USB 227D:0102 interface 1 port 1-2 serial SN-A"
  // ("" for runs kept before it was recorded, and for replays).
  std::string device;
  int xCount = 0, yCount = 0, resolution = 0, xRange = 0, yRange = 0;
  std::string limitsName;
  std::string limitsSha256;
  std::string verdict;  // "pass", "fail" or "error" (could not finish)
  std::string note;     // why a run could not finish
  double durationS = 0;
  std::string capturePath;
  std::string captureSha256;
  std::vector<Check> checks;
  bool pending = false;        // kept locally, not yet on the server it was meant for
  std::string setAsideReason;  // pending, and refused by the server for its content: why

  // How the reports show it.
  std::string name = "vantrel test";
  // Shown in every report, in the order set: "tool", "serial", "station", "limits_sha256",
  // "firmware" (each when known).
  std::vector<std::pair<std::string, std::string>> properties;
  std::string timestamp;  // UTC, "2026-12-08T13:21:33"
  std::string hostname;
  std::vector<Note> errors;   // groups that could not be measured
  std::vector<Note> skipped;  // groups left out, an earlier check having failed
  std::vector<std::pair<std::string, double>> groupSeconds;
  // A JUnit test case per item (stroke, frequency) holding its checks, instead of one per
  // check; the table and the CSV then title a check "item: check".
  bool casePerItem = false;

  // Stamps the start: timestamp and hostname.
  void Begin();
  void SetProperty(const std::string& name, const std::string& value);
  void AddSeconds(const std::string& group, double seconds);
  double Seconds(const std::string& group) const;
  int Failed() const;
  // A pass: something was checked, nothing failed, nothing could not be measured.
  bool Passed() const { return errors.empty() && Failed() == 0 && !checks.empty(); }
  // Groups in order of first appearance: those of checks, then errors, then skipped.
  std::vector<std::string> Groups() const;
  // A check's title in the table and the CSV.
  std::string Title(const Check& c) const { return c.Title(casePerItem ? ": " : " "); }
};

}  // namespace analysis
