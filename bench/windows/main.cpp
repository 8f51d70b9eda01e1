// bench_windows: VantrelTool's own Wave Window, XY Window and full-screen value map open
// together (offscreen) while tpcsim streams stamped data reports and touches through
// the hidpipe simulator backend, the transfer controller and the Qt deliverer.
#include <QApplication>
#include <QEventLoop>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/common/BenchSummary.h"
#include "bench/e2e/CpuClock.h"
#include "bench/e2e/ProbeDeliverer.h"
#include "bench/e2e/SeqProbe.h"
#include "bench/e2e/SimProcess.h"
#include "control/CSettingsRecord.h"
#include "hidpipe/hidpipe.h"
#include "link/CTransCtrl.h"
#include "shell/CUiDeliverer.h"
#include "views/CDrawArea.h"
#include "views/CPointStore.h"
#include "views/CWndGraphDialog.h"
#include "views/CWndXYDialog.h"
#include "views/CWndXYFullDialog.h"
#include "views/CXYCoordDraw.h"

namespace {

const char* kUsage =
    "Usage: bench_windows [--quick] [--pairs N] [--statistics] [--tpcsim PATH]\n"
    "Opens the Wave Window, the XY Window and its full-screen view together while tpcsim\n"
    "streams data reports (1000 and 8000 per second) and a finger draws circles; with our\n"
    "receive path and with the plain poll loop, taken in turns.\n"
    "  --quick        phases a fifth as long and one pair (a smoke run; figures are rougher)\n"
    "  --pairs N      how many times each of the two runs (default 3); the summary gives\n"
    "                 medians, so that one run disturbed by the machine does not decide\n"
    "  --statistics   our receive path twice, side by side: as is, and with the Wave\n"
    "                 Window's statistics and the full-screen noise map on (\"stats\")\n"
    "  --tpcsim PATH  the simulator program (default: the one built beside this one)\n"
    "  --help, --version\n";

using V = BenchSummary::Verdict;

void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const int64_t end = CpuClock::MonotonicNs() + int64_t{timeoutMs} * 1000000;
  while (!done()) {
    if (CpuClock::MonotonicNs() >= end) return false;
    Pump(5);
  }
  return true;
}

int Send(CTransCtrl& ctrl, const char* cmd) {
  return ctrl.SendCmd(cmd, static_cast<int>(std::strlen(cmd)), 1, 1);
}

double Median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

double MsSince(int64_t cpuNs) {
  return static_cast<double>(CpuClock::Read(CLOCK_THREAD_CPUTIME_ID) - cpuNs) / 1e6;
}

struct Row {
  std::string config;  // "ours", "plain"
  int rate = 0;
  double seconds = 0;
  int64_t sent = 0, delivered = 0, lost = 0;
  double p99Ms = 0, maxMs = 0;
  double maxGapMs = 0;       // longest gap between ticks of a 5 ms UI timer
  double processCpuPct = 0;  // whole process, % of one core
  double rxCpuPct = -1;
  double mainCpuPct = 0;
  double waveMs = -1, mapMs = -1, replayMs = -1;  // medians of CPU time on the UI thread
};

// The longest time between ticks of a fast timer on the user-interface thread: how long
// the thread was kept from its event loop.
class GapMeter {
 public:
  GapMeter() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const int64_t now = CpuClock::MonotonicNs();
      if (last_ != 0) maxGap_ = std::max(maxGap_, now - last_);
      last_ = now;
    });
  }
  void Start() {
    last_ = 0;
    maxGap_ = 0;
    timer_.start();
  }
  double StopMs() {
    timer_.stop();
    return static_cast<double>(maxGap_) / 1e6;
  }

 private:
  QTimer timer_;
  int64_t last_ = 0;
  int64_t maxGap_ = 0;
};

// Stands in the Wave Window's listener slot: reads the stamps, then hands the frame to
// the window, so that measuring costs no hand-over of its own.
class ForwardingProbe : public ITransListener {
 public:
  ForwardingProbe(SeqProbe& probe, ITransListener& next) : probe_(probe), next_(next) {}
  int OnTransCallback(const TransFrame& frame) override {
    probe_.OnTransCallback(frame);
    return next_.OnTransCallback(frame);
  }

 private:
  SeqProbe& probe_;
  ITransListener& next_;
};

// The program's three data views around one transfer controller.
struct Views {
  CSettingsRecord settings;
  CXYCoordDraw draw;
  CPointStore store;
  std::unique_ptr<CWndGraphDialog> wave;
  std::unique_ptr<CWndXYDialog> xy;
  CWndXYFullDialog* full = nullptr;

  Views(CTransCtrl& ctrl, const PanelInfo& panel, bool stats) {
    settings.xCount = panel.xCount;
    settings.yCount = panel.yCount;
    wave = std::make_unique<CWndGraphDialog>(ctrl, settings, nullptr);
    wave->show();
    wave->SetCounts(panel.xCount, panel.yCount);
    xy = std::make_unique<CWndXYDialog>(ctrl, settings, draw, store, nullptr);
    xy->show();
    xy->OnPaint();
    xy->OnBnClickedExpand();
    full = xy->FullScreen();
    full->OnPaint();
    if (stats) {
      wave->SetStatistics(true);
      full->SetMode(MapMode::kNoise);
    }
  }

  // The three paint figures, timed on this thread's CPU clock.
  void Sample(const PanelInfo& panel, std::vector<double>& wave, std::vector<double>& map,
              std::vector<double>& replay) {
    int64_t t = CpuClock::Read(CLOCK_THREAD_CPUTIME_ID);
    this->wave->Canvas()->Invalidate();
    this->wave->Canvas()->RepaintIfStale();
    wave.push_back(MsSince(t));

    std::mt19937 rng(static_cast<uint32_t>(wave.size()));
    std::uniform_int_distribution<int> v(700, 1300);
    std::vector<int32_t> row(panel.xCount);
    {
      QPainter p(&full->DrawArea()->Image());
      t = CpuClock::Read(CLOCK_THREAD_CPUTIME_ID);
      for (int j = 0; j < panel.yCount; ++j) {
        for (int32_t& x : row) x = v(rng);
        draw.DrawValueMap(0, j, 1, row.data(), panel.xCount, p, true);
      }
      map.push_back(MsSince(t));
    }
    full->DrawArea()->update();

    // A full store of strokes of five fingers on the panel's scale.
    store.Clear();
    const int xr = std::max<int>(panel.xRange, 1), yr = std::max<int>(panel.yRange, 1);
    for (int k = 0; k < CPointStore::kSlots; ++k) {
      const int f = k % 5;
      const double a = k * 0.002;
      store.Add({static_cast<uint8_t>((k / 5) % 200 == 199 ? 2 : 1), static_cast<uint8_t>(f),
                 static_cast<uint16_t>(xr / 2 + (xr / 3) * std::cos(a + f)),
                 static_cast<uint16_t>(yr / 2 + (yr / 3) * std::sin(a + f)), 0});
    }
    t = CpuClock::Read(CLOCK_THREAD_CPUTIME_ID);
    full->OnPaint();
    replay.push_back(MsSince(t));
  }
};

// One configuration: open, views up, then a phase per rate.
bool Run(SimProcess& sim, bool plain, bool stats, double scale, std::vector<Row>& rows,
         std::string& error) {
  CUiDeliverer ui;
  ProbeDeliverer deliverer(ui);
  CTransCtrl ctrl;
  SeqProbe probe(ctrl);
  CTransCtrl::ClearPending();
  hidSetDrainRing(plain ? 0 : 1);
  ctrl.SetPlainPolling(plain);
  ctrl.SetIdentity(0, 0x227D, 0x0102, 2);
  ctrl.SetDeliverer(&deliverer);
  sim.Control("stream off");
  if (ctrl.Open(kLinkUsb, nullptr) != 1) {
    error = "the USB link to tpcsim did not open";
    return false;
  }
  // The views take the panel's geometry when they are made: wait for it.
  if (!PumpUntil(
          [&] {
            return !ctrl.FirmwareVersion().empty() && CTransCtrl::PendingCount() == 0 &&
                   ctrl.Panel().xRange != 0;
          },
          5000)) {
    error = "no version or panel information from tpcsim (version '" + ctrl.FirmwareVersion() +
            "', " + std::to_string(CTransCtrl::PendingCount()) + " commands pending, X range " +
            std::to_string(ctrl.Panel().xRange) + ", link state " +
            std::to_string(ctrl.GetLinkState()) + ")";
    ctrl.Close();
    return false;
  }
  const PanelInfo panel = ctrl.Panel();
  auto views = std::make_unique<Views>(ctrl, panel, stats);
  ForwardingProbe forward(probe, *views->wave);
  ctrl.UnregisterListener(CWndGraphDialog::kSlot);  // the window stays registered in its own eyes
  ctrl.RegisterListener(CWndGraphDialog::kSlot, 2, &forward);
  Send(ctrl, "SEND 024C020501 ");  // coordinates to this program
  const int xr = std::max<int>(panel.xRange, 1), yr = std::max<int>(panel.yRange, 1);
  sim.Control("touch circle 0 " + std::to_string(xr / 2) + " " + std::to_string(yr / 2) + " " +
              std::to_string(yr / 3) + " 2000 100000");
  Pump(500);

  GapMeter gaps;
  for (int rate : {1000, 8000}) {
    Row row;
    row.config = plain ? "plain" : stats ? "stats" : "ours";
    row.rate = rate;
    row.seconds = (rate == 1000 ? 10.0 : 5.0) * scale;
    sim.Control("rate " + std::to_string(rate));
    const long long before = sim.DataReports();
    probe.Reset();
    const int64_t wall0 = CpuClock::MonotonicNs(), proc0 = CpuClock::ProcessNs(),
                  main0 = CpuClock::Read(CLOCK_THREAD_CPUTIME_ID);
    const int64_t rx0 = deliverer.Known() ? CpuClock::Read(deliverer.ReceiveThreadClock()) : -1;
    gaps.Start();
    Send(ctrl, "SEND 024E022500 ");  // M1 X offset data: the Wave Window and the value map
    Pump(static_cast<int>(row.seconds * 1000));
    row.maxGapMs = gaps.StopMs();
    const int64_t wall = CpuClock::MonotonicNs() - wall0;
    const int64_t rx1 = deliverer.Known() ? CpuClock::Read(deliverer.ReceiveThreadClock()) : -1;
    row.processCpuPct = 100.0 * static_cast<double>(CpuClock::ProcessNs() - proc0) / wall;
    row.mainCpuPct =
        100.0 * static_cast<double>(CpuClock::Read(CLOCK_THREAD_CPUTIME_ID) - main0) / wall;
    if (rx0 >= 0 && rx1 >= 0) row.rxCpuPct = 100.0 * static_cast<double>(rx1 - rx0) / wall;
    const SeqProbe::Figures f = probe.Take();
    row.p99Ms = f.p99Ms;
    row.maxMs = f.maxMs;

    // Then, with the stream still running, the paint figures: repaints the windows do not
    // make by themselves, so they stay out of the latency and gap figures above.
    std::vector<double> wave, map, replay;
    QTimer sampler;
    sampler.setInterval(200);
    QObject::connect(&sampler, &QTimer::timeout, [&] { views->Sample(panel, wave, map, replay); });
    sampler.start();
    Pump(static_cast<int>(std::max(4.0 * scale, 1.0) * 1000));
    sampler.stop();
    Send(ctrl, "SEND 024E0180 ");  // StopContinuallyReport
    PumpUntil([&] { return CpuClock::MonotonicNs() / 1000 - probe.LastDeliveryUs() > 300000; },
              5000);
    sim.Control("stream off");
    Pump(100);
    const long long after = sim.DataReports();
    const SeqProbe::Figures all = probe.Take();
    row.sent = (before >= 0 && after >= 0) ? after - before : -1;
    row.delivered = all.delivered;
    row.lost = row.sent >= 0 ? std::max<int64_t>(row.sent - all.delivered, 0) : all.gaps;
    row.waveMs = Median(wave);
    row.mapMs = Median(map);
    row.replayMs = Median(replay);
    rows.push_back(row);
  }
  sim.Control("touch up all");
  Send(ctrl, "SEND 024C020500 ");
  Pump(200);
  ctrl.Close();
  ctrl.UnregisterListener(CWndGraphDialog::kSlot);
  views.reset();
  CTransCtrl::ClearPending();
  return true;
}

// The runs of one configuration at one rate folded into one row: medians of the CPU,
// latency and paint figures, the worst of the losses and gaps.
bool Fold(const std::vector<Row>& rows, const std::string& config, int rate, Row& out) {
  std::vector<double> proc, p99, wave, map, replay;
  out = Row{};
  for (const Row& r : rows) {
    if (r.config != config || r.rate != rate) continue;
    proc.push_back(r.processCpuPct);
    p99.push_back(r.p99Ms);
    wave.push_back(r.waveMs);
    map.push_back(r.mapMs);
    replay.push_back(r.replayMs);
    out.lost = std::max(out.lost, r.lost);
    out.maxGapMs = std::max(out.maxGapMs, r.maxGapMs);
  }
  if (proc.empty()) return false;
  out.config = config;
  out.rate = rate;
  out.processCpuPct = Median(proc);
  out.p99Ms = Median(p99);
  out.waveMs = Median(wave);
  out.mapMs = Median(map);
  out.replayMs = Median(replay);
  return true;
}

void Print(const std::vector<Row>& rows) {
  std::printf("\n%-6s %5s %5s %8s %9s %5s %8s %8s %8s %7s %6s %7s %8s %8s %9s\n", "config", "rate",
              "s", "sent", "delivered", "lost", "p99 ms", "max ms", "gap ms", "proc %", "rx %",
              "main %", "wave ms", "map ms", "replay ms");
  for (const Row& r : rows) {
    std::printf(
        "%-6s %5d %5.1f %8lld %9lld %5lld %8.3f %8.2f %8.2f %7.2f %6.2f %7.2f %8.3f %8.3f "
        "%9.3f\n",
        r.config.c_str(), r.rate, r.seconds, static_cast<long long>(r.sent),
        static_cast<long long>(r.delivered), static_cast<long long>(r.lost), r.p99Ms, r.maxMs,
        r.maxGapMs, r.processCpuPct, r.rxCpuPct, r.mainCpuPct, r.waveMs, r.mapMs, r.replayMs);
  }
  std::printf(
      "\ngap = longest time between ticks of a 5 ms timer on the UI thread; proc/rx/main %% =\n"
      "CPU of the process, the receive thread and the UI thread in %% of one core; wave, map,\n"
      "replay = medians of the UI thread's CPU time for a Wave Window full paint, a 38 x 22\n"
      "value map with values and a full-screen repaint replaying 9999 points, sampled every\n"
      "200 ms while the stream goes on after the timed phase (lost counts both parts).\n");
}

void Summarise(const std::vector<Row>& rows) {
  for (const char* cfg : {"ours", "plain", "stats"}) {
    const bool ours = std::strcmp(cfg, "plain") != 0;
    const std::string area = std::string("all windows ") + cfg;
    auto verdict = [ours](bool met) { return ours ? (met ? V::kMet : V::kMissed) : V::kInfo; };
    for (int rate : {1000, 8000}) {
      Row r;
      if (!Fold(rows, cfg, rate, r)) continue;
      const std::string at = std::to_string(rate) + "/s: ";
      BenchSummary::Add(area, at + "frames lost (worst run)", std::to_string(r.lost), "0",
                        verdict(r.lost == 0));
      BenchSummary::Add(area, at + "longest UI timer gap (worst run)",
                        BenchSummary::Fixed(r.maxGapMs, 1) + " ms", "< 50 ms",
                        verdict(r.maxGapMs < 50));
      BenchSummary::Add(area, at + "receive p99 latency", BenchSummary::Fixed(r.p99Ms, 3) + " ms",
                        "< 2 ms", verdict(r.p99Ms < 2));
      BenchSummary::Add(area, at + "value map 38 x 22 with values",
                        BenchSummary::Fixed(r.mapMs, 3) + " ms", "< 2 ms", verdict(r.mapMs < 2));
      BenchSummary::Add(area, at + "XY replay of 9999 points",
                        BenchSummary::Fixed(r.replayMs, 3) + " ms", "< 10 ms",
                        verdict(r.replayMs < 10));
      BenchSummary::Add(area, at + "Wave Window full paint",
                        BenchSummary::Fixed(r.waveMs, 3) + " ms", "< 2 ms",
                        verdict(r.waveMs < 2));
      if (rate == 1000)
        BenchSummary::Add(area, "1000/s: process CPU", BenchSummary::Fixed(r.processCpuPct, 2) + " %",
                          "-", V::kInfo);
    }
  }
  Row o, p;
  if (!Fold(rows, "ours", 1000, o) || !Fold(rows, "plain", 1000, p) || p.processCpuPct <= 0) return;
  const double ratio = o.processCpuPct / p.processCpuPct;
  BenchSummary::Add("all windows", "1000/s: process CPU ours / plain (medians)",
                    BenchSummary::Fixed(ratio, 2), "<= 1.2", ratio <= 1.2 ? V::kMet : V::kMissed);
  std::printf("\nprocess CPU at 1000/s, medians of the runs: ours %.2f %%, plain %.2f %%, ours / "
              "plain %.2f\n",
              o.processCpuPct, p.processCpuPct, ratio);
}

}  // namespace

int main(int argc, char** argv) {
  double scale = 1.0;
  int pairs = 0;  // 0: three, one with --quick
  bool quick = false;
  bool statistics = false;
  std::string tpcsim = TPCSIM_PATH;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--version") {
      std::printf("bench_windows %s\n", VT_BENCH_VERSION);
      return 0;
    } else if (a == "--quick") {
      scale = 0.2;
      quick = true;
    } else if (a == "--pairs" && i + 1 < argc) {
      char* end = nullptr;
      const long n = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || n < 1 || n > 100) {
        std::fprintf(stderr, "bench_windows: --pairs takes a number from 1 to 100, not '%s'\n",
                     argv[i]);
        return 2;
      }
      pairs = static_cast<int>(n);
    } else if (a == "--statistics") {
      statistics = true;
    } else if (a == "--tpcsim" && i + 1 < argc) {
      tpcsim = argv[++i];
    } else {
      std::fprintf(stderr, "bench_windows: unknown option '%s'\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  SimProcess sim;
  std::string error;
  if (!sim.Start(tpcsim, {}, error)) {
    std::fprintf(stderr, "bench_windows: %s\n", error.c_str());
    return 1;
  }
  // Before the first hidpipe call: the library picks its backend then.
  setenv("HIDPIPE_SIM", sim.SocketPath().c_str(), 1);
  if (pairs == 0) pairs = quick ? 1 : 3;
  std::vector<Row> rows;
  int status = 0;
  // Without --statistics: ours and the plain poll loop; with it: ours, statistics off and on.
  // The two take turns, so that what the machine does meanwhile falls on both.
  for (int k = 0; k < 2 * pairs; ++k) {
    const bool plain = !statistics && k % 2 == 1;
    const bool stats = statistics && k % 2 == 1;
    const char* name = plain ? "plain" : stats ? "stats" : "ours";
    std::printf("running %s ...\n", name);
    std::fflush(stdout);
    if (!Run(sim, plain, stats, scale, rows, error)) {
      std::fprintf(stderr, "bench_windows: %s: %s\n", name, error.c_str());
      status = 1;
    }
  }
  sim.Stop();
  Print(rows);
  Summarise(rows);
  return status;
}
