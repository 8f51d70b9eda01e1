// Console output of Google Benchmark plus a summary row for every benchmark that has a
// target: a least rate of a counter (items or bytes per second) or a most wall time.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class TargetReporter : public benchmark::ConsoleReporter {
 public:
  struct Target {
    std::string figure;   // name in the summary
    std::string counter;  // "items_per_second", "bytes_per_second" or "" for wall time
    double least = 0;     // counter at least this much
    double mostMs = 0;    // or wall time per iteration at most this many milliseconds
    std::string unit;     // shown after a counter value ("frames", "MB")
  };

  explicit TargetReporter(std::string area) : area_(std::move(area)) {}

  // name: the benchmark's name as reported (prefix up to the first '/').
  void AddTarget(const std::string& name, Target t);
  // A benchmark reported in the summary without a target.
  void AddInfo(const std::string& name, Target t);

  void ReportRuns(const std::vector<Run>& reports) override;

 private:
  void Summarise(const Run& run, const Target& t, bool hasTarget);

  std::string area_;
  std::map<std::string, std::pair<Target, bool>> targets_;
};

// Runs the registered benchmarks with the reporter; returns the process exit code.
int RunBenchmarks(int argc, char** argv, TargetReporter& reporter);
