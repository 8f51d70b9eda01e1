// The touch analysis at the fastest report rate: what vantrel touch and the XY Window's
// touch figures pay per coordinate report. 8000 reports/s under 5 % of a core is at least
// 160 k reports per CPU second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "analysis/TouchLive.h"
#include "analysis/TouchTests.h"
#include "bench/common/TargetReporter.h"

namespace {

constexpr int kReports = 8000;  // one second at 8000 reports/s
const analysis::TouchGeometry kPanel{2432, 1408, 190, 110};

// One second of two-finger multi-touch reports: finger 0 draws a line, finger 1 is held.
std::vector<std::vector<uint8_t>> Second() {
  std::vector<std::vector<uint8_t>> out;
  auto u16 = [](std::vector<uint8_t>& f, int v) {
    f.push_back(static_cast<uint8_t>(v & 0xFF));
    f.push_back(static_cast<uint8_t>(v >> 8));
  };
  for (int i = 0; i < kReports; ++i) {
    std::vector<uint8_t> f{0x02, 0x4D, 13, 2, 7, 0};
    u16(f, 200 + i * 2000 / kReports);
    u16(f, 300 + (i % 3));
    f.insert(f.end(), {7, 1});
    u16(f, 1200 + (i % 2));
    u16(f, 700);
    out.push_back(f);
  }
  return out;
}

// Decoded, segmented into strokes, then rate, jitter and linearity of every stroke.
void BM_TouchTests(benchmark::State& state) {
  const auto reports = Second();
  for (auto _ : state) {
    analysis::StrokeTracker tracker(kPanel);
    analysis::TouchReport r;
    for (size_t i = 0; i < reports.size(); ++i) {
      analysis::DecodeTouchReport(reports[i].data(), static_cast<int>(reports[i].size()),
                                  static_cast<int64_t>(i) * 125, r);
      tracker.Add(r);
    }
    tracker.Finish();
    std::vector<analysis::Check> checks;
    std::string why;
    const analysis::TouchRun run{&tracker, kPanel, {}, nullptr, 0};
    for (auto t : {analysis::TouchTest::kRate, analysis::TouchTest::kJitter,
                   analysis::TouchTest::kLinearity, analysis::TouchTest::kContacts})
      analysis::EvaluateTouch(t, run, checks, why);
    benchmark::DoNotOptimize(checks.data());
  }
  state.SetItemsProcessed(state.iterations() * kReports);
}
BENCHMARK(BM_TouchTests)->Unit(benchmark::kMillisecond);

// The live figures: every report added, the figures read four times a second.
void BM_TouchFigures(benchmark::State& state) {
  const auto reports = Second();
  analysis::LiveTouchFigures live;
  live.SetGeometry(kPanel);
  int64_t us = 0;
  for (auto _ : state) {
    analysis::TouchReport r;
    for (size_t i = 0; i < reports.size(); ++i) {
      analysis::DecodeTouchReport(reports[i].data(), static_cast<int>(reports[i].size()), us, r);
      live.Add(r);
      us += 125;
      if (i % 2000 == 0) benchmark::DoNotOptimize(live.Now(us));
    }
  }
  state.SetItemsProcessed(state.iterations() * kReports);
}
BENCHMARK(BM_TouchFigures)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  TargetReporter reporter("touch");
  reporter.AddTarget("BM_TouchTests", {"touch tests, 2 contacts, per report (8000/s < 5 % of a core)",
                                       "items_per_second", 160e3, 0, "reports"});
  reporter.AddTarget("BM_TouchFigures", {"live touch figures, per report (8000/s < 5 % of a core)",
                                         "items_per_second", 160e3, 0, "reports"});
  return RunBenchmarks(argc, argv, reporter);
}
