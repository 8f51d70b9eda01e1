#include "TargetReporter.h"

#include <cstdio>
#include <cstring>

#include "BenchSummary.h"

void TargetReporter::AddTarget(const std::string& name, Target t) {
  targets_[name] = {std::move(t), true};
}

void TargetReporter::AddInfo(const std::string& name, Target t) {
  targets_[name] = {std::move(t), false};
}

void TargetReporter::ReportRuns(const std::vector<Run>& reports) {
  ConsoleReporter::ReportRuns(reports);
  for (const Run& run : reports) {
    if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
    const std::string name = run.benchmark_name();
    auto it = targets_.find(name.substr(0, name.find('/')));
    if (it == targets_.end()) it = targets_.find(name);
    if (it != targets_.end()) Summarise(run, it->second.first, it->second.second);
  }
}

void TargetReporter::Summarise(const Run& run, const Target& t, bool hasTarget) {
  using V = BenchSummary::Verdict;
  if (t.counter.empty()) {
    // One thread draws: its CPU time is the figure (the machine may be shared); a
    // benchmark that waits on another thread is timed by the wall clock.
    const double seconds = run.run_name.time_type == "real_time" ? run.real_accumulated_time
                                                                 : run.cpu_accumulated_time;
    const double ms = seconds * 1e3 / static_cast<double>(run.iterations);
    const V v = !hasTarget ? V::kInfo : (ms <= t.mostMs ? V::kMet : V::kMissed);
    const std::string shown =
        ms < 0.1 ? BenchSummary::Fixed(ms * 1e3, 2) + " us" : BenchSummary::Fixed(ms, 3) + " ms";
    BenchSummary::Add(area_, t.figure, shown,
                      hasTarget ? "< " + BenchSummary::Fixed(t.mostMs, 0) + " ms" : "-", v);
    return;
  }
  auto c = run.counters.find(t.counter);
  if (c == run.counters.end()) return;
  const double rate = c->second.value;
  std::string value, target;
  if (t.counter == "bytes_per_second") {
    value = BenchSummary::Fixed(rate / 1e6, 0) + " MB/s";
    target = ">= " + BenchSummary::Fixed(t.least / 1e6, 0) + " MB/s";
  } else {
    value = BenchSummary::Rate(rate) + " " + t.unit;
    target = ">= " + BenchSummary::Rate(t.least) + " " + t.unit;
  }
  const V v = !hasTarget ? V::kInfo : (rate >= t.least ? V::kMet : V::kMissed);
  BenchSummary::Add(area_, t.figure, value, hasTarget ? target : "-", v);
}

int RunBenchmarks(int argc, char** argv, TargetReporter& reporter) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s %s\n", argv[0], VT_BENCH_VERSION);
      return 0;
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
