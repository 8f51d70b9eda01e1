// Drawing figures on an offscreen QImage: the Wave Window's full paint, the XY
// Window's replay of a full point store, a value map and one plotted point.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <memory>
#include <random>

#include "bench/common/TargetReporter.h"
#include "views/CLiveStats.h"
#include "views/CPointStore.h"
#include "views/CWaveGraph.h"
#include "views/CXYCoordDraw.h"

namespace {

// The Wave Window's geometry: two 760 x 160 frames with their label bands.
constexpr int kFrameW = 760;
constexpr int kFrameH = 160;
constexpr int kMargin = 8;
constexpr int kYTop = kMargin + kFrameH + CWaveGraph::kIndexOffset + CWaveGraph::kIndexHeight +
                      kMargin + CWaveGraph::kLabelHeight;
constexpr int kCanvasW = kFrameW + 2 * kMargin + 8;
constexpr int kCanvasH = kYTop + kFrameH + kMargin;

void FillWave(CWaveGraph& g, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> v(700, 1300);
  for (auto axis : {CWaveGraph::kAxisX, CWaveGraph::kAxisY}) {
    int32_t values[CWaveGraph::kMaxValues];
    for (int32_t& x : values) x = v(rng);
    g.Store(axis, 0, values, CWaveGraph::kMaxValues);
  }
}

// What the Wave Window does on a repaint: both frames, all bars and labels.
void BM_WavePaintFull(benchmark::State& state) {
  QImage img(kCanvasW, kCanvasH, QImage::Format_RGB32);
  CWaveGraph graph;
  graph.SetFrameSize(kFrameW, kFrameH);
  graph.SetCounts(255, 255);
  uint32_t seed = 1;
  for (auto _ : state) {
    FillWave(graph, ++seed);
    img.fill(QColor(240, 240, 240));
    QPainter p(&img);
    for (auto axis : {CWaveGraph::kAxisX, CWaveGraph::kAxisY}) {
      p.save();
      p.translate(kMargin, axis == CWaveGraph::kAxisX ? kMargin : kYTop);
      graph.DrawWaveFrame(p, axis);
      graph.DrawWaveBars(p, axis);
      p.restore();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WavePaintFull)->Unit(benchmark::kMillisecond);

// The 100 ms timer tick: bars and labels only, frames kept.
void BM_WaveTimerTick(benchmark::State& state) {
  QImage img(kCanvasW, kCanvasH, QImage::Format_RGB32);
  img.fill(QColor(240, 240, 240));
  CWaveGraph graph;
  graph.SetFrameSize(kFrameW, kFrameH);
  graph.SetCounts(255, 255);
  uint32_t seed = 1;
  for (auto _ : state) {
    FillWave(graph, ++seed);
    QPainter p(&img);
    for (auto axis : {CWaveGraph::kAxisX, CWaveGraph::kAxisY}) {
      p.save();
      p.translate(kMargin, axis == CWaveGraph::kAxisX ? kMargin : kYTop);
      graph.DrawWaveBars(p, axis);
      p.restore();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WaveTimerTick)->Unit(benchmark::kMillisecond);

// Strokes of up to five fingers, touching with a lift now and then, on the 0-1024 scale.
void FillStore(CPointStore& store) {
  store.Clear();
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> step(-6, 6);
  int x[5] = {100, 300, 500, 700, 900}, y[5] = {100, 200, 300, 400, 500};
  for (int k = 0; k < CPointStore::kSlots; ++k) {
    const int f = k % 5;
    x[f] = std::clamp(x[f] + step(rng), 0, 1023);
    y[f] = std::clamp(y[f] + step(rng), 0, 1023);
    const uint8_t status = (k / 5) % 200 == 199 ? 2 : 1;
    store.Add({status, static_cast<uint8_t>(f), static_cast<uint16_t>(x[f]),
               static_cast<uint16_t>(y[f]), 0});
  }
}

std::unique_ptr<CXYCoordDraw> MakeDraw(int w, int h) {
  auto draw = std::make_unique<CXYCoordDraw>();
  draw->SetSize(w, h);
  draw->SetCounts(38, 22);
  draw->CreatePens();
  return draw;
}

// The XY Window's repaint: clear, grid, every stored point oldest first (fixed scale).
void BM_XYReplay9999(benchmark::State& state) {
  auto store = std::make_unique<CPointStore>();
  FillStore(*store);
  QImage img(700, 560, QImage::Format_RGB32);
  auto draw = MakeDraw(img.width(), img.height());
  for (auto _ : state) {
    img.fill(Qt::white);
    QPainter p(&img);
    draw->DrawGrid(p);
    store->ForEach(
        [&](const TouchPoint& pt) { draw->PlotPoint(pt.x, pt.y, pt.finger, pt.status, &p); });
  }
  state.SetItemsProcessed(state.iterations() * store->Size());
}
BENCHMARK(BM_XYReplay9999)->Unit(benchmark::kMillisecond);

// A full 38 x 22 map (22 rows of 38 values) with the values printed, full-screen size.
void BM_ValueMap38x22(benchmark::State& state) {
  QImage img(1280, 800, QImage::Format_RGB32);
  img.fill(Qt::white);
  auto draw = MakeDraw(img.width(), img.height());
  {
    QPainter p(&img);
    draw->DrawGrid(p);
  }
  int32_t values[22][38];
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> v(-300, 300);
  for (auto& row : values)
    for (int32_t& x : row) x = v(rng);
  for (auto _ : state) {
    QPainter p(&img);
    for (int j = 0; j < 22; ++j) draw->DrawValueMap(0, j, 1, values[j], 38, p, true);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ValueMap38x22)->Unit(benchmark::kMillisecond);

// One point as it arrives: erase, line, dot.
void BM_PlotOnePoint(benchmark::State& state) {
  QImage img(700, 560, QImage::Format_RGB32);
  img.fill(Qt::white);
  auto draw = MakeDraw(img.width(), img.height());
  QPainter p(&img);
  draw->DrawGrid(p);
  int k = 0;
  for (auto _ : state) {
    ++k;
    draw->PlotPoint(200 + (k % 400), 300 + (k % 200), 0, 1, &p);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlotOnePoint)->Unit(benchmark::kMicrosecond);

// A full paint with statistics on: bars, then a min-max whisker and a mean tick on each
// of the 255 + 255 bars.
void BM_WavePaintWhiskers(benchmark::State& state) {
  QImage img(kCanvasW, kCanvasH, QImage::Format_RGB32);
  CWaveGraph graph;
  graph.SetFrameSize(kFrameW, kFrameH);
  graph.SetCounts(255, 255);
  std::vector<CWaveGraph::Whisker> whiskers(CWaveGraph::kMaxValues);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> v(800, 1200);
  for (auto& w : whiskers) {
    const int a = v(rng), b = v(rng);
    w = {std::min(a, b), std::max(a, b), (a + b) / 2.0};
  }
  uint32_t seed = 1;
  for (auto _ : state) {
    FillWave(graph, ++seed);
    img.fill(QColor(240, 240, 240));
    QPainter p(&img);
    for (auto axis : {CWaveGraph::kAxisX, CWaveGraph::kAxisY}) {
      p.save();
      p.translate(kMargin, axis == CWaveGraph::kAxisX ? kMargin : kYTop);
      graph.DrawWaveFrame(p, axis);
      graph.DrawWaveBars(p, axis);
      graph.DrawWhiskers(p, axis, whiskers.data(), CWaveGraph::kMaxValues);
      p.restore();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WavePaintWhiskers)->Unit(benchmark::kMillisecond);

// The reports of one 38 x 22 M0 raw scan as the controller sends them: X in two
// reports of 19, Y in one of 22.
struct ScanReports {
  std::vector<int32_t> x0, x1, y;
  std::vector<DataRecord> records;
  explicit ScanReports(uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> v(950, 1050);
    for (int i = 0; i < 19; ++i) x0.push_back(v(rng));
    for (int i = 0; i < 19; ++i) x1.push_back(v(rng));
    for (int i = 0; i < 22; ++i) y.push_back(v(rng));
    records.push_back(Record(0, 1, x0));
    records.push_back(Record(19, 1, x1));
    records.push_back(Record(0, 0, y));
  }
  static DataRecord Record(int start, uint8_t dir, const std::vector<int32_t>& v) {
    DataRecord r;
    r.kind = 2;
    r.group = 0x4B;
    r.code = 0x00;
    r.startX = dir == 1 ? static_cast<uint8_t>(start) : 0;
    r.startY = dir == 0 ? static_cast<uint8_t>(start) : 0;
    r.direction = dir;
    r.count = static_cast<uint8_t>(v.size());
    r.values = v.data();
    return r;
  }
};

// What the views do per delivered scan with statistics on: assemble the reports and
// keep the scan in the window of the last 100.
void BM_LiveStatsPerScan(benchmark::State& state) {
  CLiveStats live;
  live.SetCounts(38, 22);
  const ScanReports a(1), b(2);
  bool odd = false;
  for (auto _ : state) {
    odd = !odd;
    for (const DataRecord& r : (odd ? a : b).records) benchmark::DoNotOptimize(live.Add(r));
  }
  if (live.TotalScans() != static_cast<uint64_t>(state.iterations())) state.SkipWithError("scans were not assembled");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LiveStatsPerScan);

// The figures over 100 kept 38 x 22 scans, computed once per redraw when scans came.
void BM_LiveStatsFigures100(benchmark::State& state) {
  CLiveStats live;
  live.SetCounts(38, 22);
  const ScanReports a(1), b(2);
  for (int k = 0; k < 100; ++k)
    for (const DataRecord& r : (k % 2 ? a : b).records) live.Add(r);
  for (auto _ : state) {
    for (const DataRecord& r : a.records) live.Add(r);  // one new scan: recompute
    benchmark::DoNotOptimize(live.Summaries().data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LiveStatsFigures100)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  TargetReporter reporter("views");
  reporter.AddTarget("BM_WavePaintFull",
                     {"Wave Window full paint (255 + 255 bars, labels)", "", 0, 2, ""});
  reporter.AddInfo("BM_WaveTimerTick", {"Wave Window timer tick (bars and labels)", "", 0, 0, ""});
  reporter.AddTarget("BM_XYReplay9999", {"XY replay of 9999 points (with grid)", "", 0, 20, ""});
  reporter.AddTarget("BM_ValueMap38x22", {"value map 38 x 22 with values", "", 0, 2, ""});
  reporter.AddInfo("BM_PlotOnePoint", {"one point plotted", "", 0, 0, ""});
  reporter.AddTarget("BM_WavePaintWhiskers",
                     {"Wave Window full paint with whiskers (255 + 255 bars)", "", 0, 3, ""});
  reporter.AddTarget("BM_LiveStatsPerScan", {"live statistics update, one 38 x 22 scan",
                                             "items_per_second", 500e3, 0, "scans"});
  reporter.AddInfo("BM_LiveStatsFigures100",
                   {"live statistics figures over 100 scans (per redraw)", "", 0, 0, ""});
  return RunBenchmarks(argc, argv, reporter);
}
