// The outcome of one test run (a self test, a touch test): every check with its measured
// value, its limits and its verdict, grouped (one group a suite of the JUnit report), the
// groups that could not be measured, and what identifies the run. The report writers and
// the results store take it whole.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "analysis/LimitsCheck.h"

namespace analysis {

struct TestReport {
  using Note = std::pair<std::string, std::string>;  // group, why

  std::string name = "vantrel test";
  // Shown in every report, in the order set: "tool", "serial", "station", "limits_sha256",
  // "firmware" (each when known).
  std::vector<std::pair<std::string, std::string>> properties;
  std::string timestamp;  // UTC, "2026-12-08T13:21:33"
  std::string hostname;
  double seconds = 0;
  std::vector<CheckResult> checks;
  std::vector<Note> errors;   // groups that could not be measured
  std::vector<Note> skipped;  // groups left out, an earlier check having failed
  std::vector<std::pair<std::string, double>> groupSeconds;

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
};

}  // namespace analysis
