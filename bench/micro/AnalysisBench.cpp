// The statistics core per scan of a 38 x 22 panel: what a view pays for live statistics
// and what vantrel pays per scan while a stream runs. Figures are CPU time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "analysis/ElectrodeStats.h"
#include "analysis/ScanAssembler.h"
#include "bench/common/TargetReporter.h"
#include "link/FrameCodec.h"

namespace {

using analysis::ElectrodeStats;
using analysis::ScanLayout;
using analysis::StreamKind;

constexpr ScanLayout kPanel{38, 22};

std::vector<std::vector<int32_t>> Scans(int n) {
  std::vector<std::vector<int32_t>> out;
  uint32_t rng = 1;
  for (int s = 0; s < n; ++s) {
    std::vector<int32_t> v(static_cast<size_t>(kPanel.Size()));
    for (auto& x : v) {
      rng = rng * 1103515245u + 12345u;
      x = 1000 + static_cast<int32_t>((rng >> 16) % 7) - 3;
    }
    out.push_back(std::move(v));
  }
  return out;
}

void RunStats(benchmark::State& state, StreamKind kind) {
  const auto scans = Scans(64);
  ElectrodeStats stats(kPanel, kind);
  size_t i = 0;
  for (auto _ : state) {
    stats.Add(scans[i++ & 63]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_StatsPerScan(benchmark::State& state) {
  RunStats(state, StreamKind::kRaw);
}
BENCHMARK(BM_StatsPerScan);

void BM_StatsPerScanSignal(benchmark::State& state) {
  RunStats(state, StreamKind::kSignal);
}
BENCHMARK(BM_StatsPerScanSignal);

// Four data reports as they arrive (X 19 + 19, Y 11 + 11): decoded, assembled, counted.
void BM_ReportsToStats(benchmark::State& state) {
  std::vector<std::vector<uint8_t>> reports;
  auto report = [&](uint8_t sx, uint8_t sy, uint8_t dir, int n) {
    std::vector<uint8_t> f{0x02, 0x4B, static_cast<uint8_t>(4 + 2 * n), 0x00, sx, sy, dir};
    for (int k = 0; k < n; ++k) f.insert(f.end(), {0xE8, 0x03});
    reports.push_back(f);
  };
  report(0, 0, 1, 19);
  report(19, 0, 1, 19);
  report(0, 0, 0, 11);
  report(0, 11, 0, 11);
  analysis::ScanAssembler assembler(0x00, kPanel);
  ElectrodeStats stats(kPanel, StreamKind::kRaw);
  DataRecord record;
  CoordinateRecord coord;
  int32_t values[FrameCodec::kValueCount];
  for (auto _ : state) {
    for (const auto& f : reports) {
      FrameCodec::DecodeReport(f.data(), static_cast<int>(f.size()), 0, record, coord, values);
      if (assembler.Add(record)) stats.Add(assembler.Scan());
    }
  }
  if (stats.Scans() != static_cast<uint64_t>(state.iterations())) state.SkipWithError("scan lost");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReportsToStats);

}  // namespace

int main(int argc, char** argv) {
  TargetReporter reporter("analysis");
  // < 2 us per scan = at least 500 k scans per CPU second.
  reporter.AddTarget("BM_StatsPerScan",
                     {"statistics of one 38 x 22 scan", "items_per_second", 500e3, 0, "scans"});
  reporter.AddTarget("BM_StatsPerScanSignal", {"statistics of one 38 x 22 scan, signal (SNR)",
                                               "items_per_second", 500e3, 0, "scans"});
  reporter.AddInfo("BM_ReportsToStats",
                   {"4 reports decoded, assembled, statistics", "items_per_second", 0, 0, "scans"});
  return RunBenchmarks(argc, argv, reporter);
}
