// The noise sweep's analysis of one point at 8000 reports/s with a 50 ms dwell: 400 data
// reports decoded into 100 scans and their statistics, 5 coordinate reports into strokes,
// then the point's figures, its checks and its CSV rows. A point of 50 ms settle and 50 ms
// dwell may cost at most 1 % of a core: 1 ms.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <sstream>
#include <vector>

#include "analysis/NoiseSweep.h"
#include "analysis/ScanAssembler.h"
#include "analysis/TouchReport.h"
#include "bench/common/TargetReporter.h"
#include "link/FrameCodec.h"

namespace {

using namespace analysis;
constexpr ScanLayout kPanel{38, 22};

void BM_NoiseSweepPoint(benchmark::State& state) {
  std::vector<std::vector<uint8_t>> reports;
  uint32_t rng = 7;
  auto report = [&](uint8_t sx, uint8_t sy, uint8_t dir, int n) {
    std::vector<uint8_t> f{0x02, 0x4B, static_cast<uint8_t>(4 + 2 * n), 0x00, sx, sy, dir};
    for (int k = 0; k < n; ++k) {
      rng = rng * 1103515245u + 12345u;
      const int v = 1000 + static_cast<int>((rng >> 16) % 61) - 30;
      f.insert(f.end(), {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)});
    }
    reports.push_back(f);
  };
  for (int scan = 0; scan < 100; ++scan) {
    report(0, 0, 1, 19);
    report(19, 0, 1, 19);
    report(0, 0, 0, 11);
    report(0, 11, 0, 11);
  }
  const uint8_t touch[] = {0x02, 0x4D, 0x08, 0x01, 0x07, 0x00, 0xB0, 0x04, 0xBC, 0x02};
  TouchGeometry geometry{2432, 1408, 190, 110};
  NoiseLimits limits;
  limits.stddevMax = 8;
  limits.p2pMax = 30;
  const SweepSettings settings{"square", 10, "none"};
  DataRecord record;
  CoordinateRecord coord;
  int32_t values[FrameCodec::kValueCount];
  uint64_t scans = 0;
  for (auto _ : state) {
    ScanAssembler assembler(0x00, kPanel);
    ElectrodeStats stats(kPanel, StreamKind::kRaw);
    StrokeTracker strokes(geometry);
    for (const auto& f : reports) {
      FrameCodec::DecodeReport(f.data(), static_cast<int>(f.size()), 0, record, coord, values);
      if (assembler.Add(record)) stats.Add(assembler.Scan());
    }
    TouchReport t;
    for (int k = 0; k < 5; ++k)
      if (DecodeTouchReport(touch, sizeof touch, k * 10'000, t)) strokes.Add(t);
    strokes.Finish();
    const NoisePoint p = MeasurePoint(150e3, stats, strokes, false, 0.05, geometry);
    const auto checks = CheckPoint(p, kPanel, limits, false);
    std::ostringstream out;
    WriteSweepPoint(out, settings, p, kPanel, checks);
    benchmark::DoNotOptimize(out.str().size());
    scans += stats.Scans();
  }
  if (scans != 100 * static_cast<uint64_t>(state.iterations())) state.SkipWithError("scan lost");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NoiseSweepPoint)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  TargetReporter reporter("noise sweep");
  reporter.AddTarget("BM_NoiseSweepPoint",
                     {"analysis of one point (100 scans, 8000 reports/s, 50 ms dwell)", "", 0, 1.0,
                      ""});
  return RunBenchmarks(argc, argv, reporter);
}
