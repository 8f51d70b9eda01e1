#include "E2eRunner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "BusyWaveUi.h"
#include "CpuClock.h"
#include "ProbeDeliverer.h"
#include "SeqProbe.h"
#include "SimProcess.h"
#include "hidpipe/hidpipe.h"
#include "link/CTransCtrl.h"
#if VT_BENCH_HAVE_UI
#include "shell/CUiDeliverer.h"
#endif

namespace {

// The main thread runs its event loop while it waits, so queued deliveries and the busy
// UI's paints go on.
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

// CPU clocks at one moment.
struct CpuSnapshot {
  int64_t wall = 0, process = 0, main = 0, rx = 0;
  static CpuSnapshot Take(const ProbeDeliverer& probe) {
    CpuSnapshot s;
    s.wall = CpuClock::MonotonicNs();
    s.process = CpuClock::ProcessNs();
    s.main = CpuClock::Read(CLOCK_THREAD_CPUTIME_ID);
    s.rx = probe.Known() ? CpuClock::Read(probe.ReceiveThreadClock()) : -1;
    return s;
  }
};

void FillCpu(E2eRunner::Row& row, const CpuSnapshot& a, const CpuSnapshot& b) {
  const double wall = static_cast<double>(b.wall - a.wall);
  if (wall <= 0) return;
  const int64_t rx = (a.rx >= 0 && b.rx >= 0) ? b.rx - a.rx : -1;
  const int64_t main = b.main - a.main;
  row.rxCpuPct = rx >= 0 ? 100.0 * static_cast<double>(rx) / wall : -1;
  row.mainCpuPct = 100.0 * static_cast<double>(main) / wall;
  // The process clock and the thread clocks are read one after the other: clamp the skew.
  const int64_t other = b.process - a.process - main - std::max<int64_t>(rx, 0);
  row.otherCpuPct = 100.0 * static_cast<double>(std::max<int64_t>(other, 0)) / wall;
}

struct Phase {
  const char* name;
  const char* rateCommand;
  double seconds;
};

}  // namespace

std::string E2eRunner::Name(const Config& c) {
  return std::string(c.plain ? "plain" : "ours") + "/" + (c.ui ? "ui" : "direct");
}

bool E2eRunner::Run(const Config& c, std::vector<Row>& rows, std::string& error) {
  CDirectDeliverer direct;
#if VT_BENCH_HAVE_UI
  CUiDeliverer uiDeliverer;
  ITransDeliverer& inner = c.ui ? static_cast<ITransDeliverer&>(uiDeliverer) : direct;
#else
  if (c.ui) {
    error = "the Qt deliverer is not built";
    return false;
  }
  ITransDeliverer& inner = direct;
#endif
  ProbeDeliverer probeDeliverer(inner);
  auto ctrl = std::make_unique<CTransCtrl>();
  SeqProbe probe(*ctrl);
  std::unique_ptr<BusyWaveUi> ui;

  CTransCtrl::ClearPending();
  hidSetDrainRing(c.plain ? 0 : 1);
  ctrl->SetPlainPolling(c.plain);
  ctrl->SetIdentity(0, 0x227D, 0x0102, 2);
  ctrl->SetDeliverer(&probeDeliverer);
  ctrl->RegisterListener(3, 2, &probe);
  sim_.Control("stream off");
  if (ctrl->Open(kLinkUsb, nullptr) != 1) {
    error = "the USB link to tpcsim did not open";
    return false;
  }
  if (!PumpUntil(
          [&] { return !ctrl->FirmwareVersion().empty() && CTransCtrl::PendingCount() == 0; },
          5000)) {
    error = "no version reply from tpcsim";
    ctrl->Close();
    return false;
  }
  if (c.ui) {
    const PanelInfo panel = ctrl->Panel();
    ui = std::make_unique<BusyWaveUi>(panel.xCount, panel.yCount);
    probe.view = [&ui](const DataRecord& r) { ui->Store(r); };
    ui->Start();
  }
  Pump(500);  // the receive loop settles into its quiet polling

  const std::string name = Name(c);
  {
    Row idle;
    idle.config = name;
    idle.rate = "idle";
    idle.seconds = 5.0 * std::max(c.scale, 0.2);
    const CpuSnapshot a = CpuSnapshot::Take(probeDeliverer);
    Pump(static_cast<int>(idle.seconds * 1000));
    FillCpu(idle, a, CpuSnapshot::Take(probeDeliverer));
    rows.push_back(idle);
  }

  const Phase phases[] = {{"250", "rate 250", 3},
                          {"1000", "rate 1000", 10},
                          {"8000", "rate 8000", 5},
                          {"max", "rate max", 3}};
  for (const Phase& ph : phases) {
    Row row;
    row.config = name;
    row.rate = ph.name;
    row.seconds = ph.seconds * c.scale;
    sim_.Control(ph.rateCommand);
    const long long before = sim_.DataReports();
    probe.Reset();
    const CpuSnapshot a = CpuSnapshot::Take(probeDeliverer);
    Send(*ctrl, "SEND 024E020400 ");  // GetM0RawData
    Pump(static_cast<int>(row.seconds * 1000));
    const CpuSnapshot b = CpuSnapshot::Take(probeDeliverer);
    const int64_t inWindow = probe.Delivered();
    Send(*ctrl, "SEND 024E0180 ");  // StopContinuallyReport
    // Done when nothing more has arrived for 300 ms.
    PumpUntil([&] { return CpuClock::MonotonicNs() / 1000 - probe.LastDeliveryUs() > 300000; },
              5000);
    sim_.Control("stream off");
    Pump(100);
    const long long after = sim_.DataReports();
    const SeqProbe::Figures f = probe.Take();
    row.sent = (before >= 0 && after >= 0) ? after - before : -1;
    row.delivered = f.delivered;
    row.lost = row.sent >= 0 ? std::max<int64_t>(row.sent - f.delivered, 0) : f.gaps;
    row.perSecond = static_cast<double>(inWindow) * 1e9 / static_cast<double>(b.wall - a.wall);
    row.medianMs = f.medianMs;
    row.p99Ms = f.p99Ms;
    row.maxMs = f.maxMs;
    FillCpu(row, a, b);
    rows.push_back(row);
  }

  if (ui) ui->Stop();
  ctrl->Close();
  ctrl->UnregisterListener(3);
  CTransCtrl::ClearPending();
  return true;
}
