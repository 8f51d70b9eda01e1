// Recording cost: tpcsim streams 8000 data reports a second through the hidpipe simulator
// backend into a real CTransCtrl for 10 s, first without a recorder, then recording into a
// plain and into a compressed capture. Rows: reports received, frames in the file, frames
// dropped, file size, process CPU (% of one core); the recording's cost is the difference.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/BenchSummary.h"
#include "bench/e2e/CpuClock.h"
#include "bench/e2e/SimProcess.h"
#include "capture/CCaptureRecorder.h"
#include "capture/CaptureFile.h"
#include "link/CTransCtrl.h"

namespace {

struct Counter : ITransListener {
  std::atomic<int64_t> data{0};
  int OnTransCallback(const TransFrame& frame) override {
    const int len = frame.len;
    const uint8_t* b = frame.bytes;
    if (len >= 8 && b[1] == 0x4B) data.fetch_add(1);
    return 0;
  }
};

struct Row {
  std::string config;
  double seconds = 0;
  int64_t received = 0;
  int64_t inFile = -1;
  int64_t dropped = 0;
  double fileMb = 0;
  double cpuPct = 0;
};

bool WaitUntil(const std::function<bool()>& cond, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// One phase of `seconds` at the stream rate, recording into `path` unless it is empty.
bool RunPhase(SimProcess& sim, const std::string& name, const std::string& path, double seconds,
              Row& row, std::string& error) {
  CTransCtrl ctrl;
  Counter counter;
  auto recorder = std::make_shared<capture::CCaptureRecorder>();
  ctrl.SetIdentity(0, 0x227D, 0x0102, 2);
  ctrl.RegisterListener(3, 2, &counter);
  ctrl.SetRecorder(recorder);
  sim.Control("stream off");
  if (ctrl.Open(kLinkUsb, nullptr) != 1) {
    error = "the USB link to tpcsim did not open";
    return false;
  }
  if (!WaitUntil([&] { return !ctrl.FirmwareVersion().empty(); }, 5000)) {
    error = "no version reply";
    return false;
  }
  if (!path.empty()) {
    capture::Header h;
    h.program = "bench_capture";
    h.link = capture::LinkKind::kUsb;
    if (!recorder->Start(path, h, error)) return false;
  }
  sim.Control("rate 8000");
  const int64_t cpu0 = CpuClock::ProcessNs();
  const int64_t wall0 = CpuClock::MonotonicNs();
  sim.Control("stream 04");
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  sim.Control("stream off");
  // The reports still on their way arrive before the counts are taken.
  int64_t last = -1;
  while (counter.data.load() != last) {
    last = counter.data.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  recorder->Stop();
  const int64_t cpu1 = CpuClock::ProcessNs();
  const int64_t wall1 = CpuClock::MonotonicNs();
  ctrl.Close();

  row.config = name;
  row.seconds = seconds;
  row.received = counter.data.load();
  row.cpuPct = 100.0 * double(cpu1 - cpu0) / double(wall1 - wall0);
  if (!path.empty()) {
    const auto stats = recorder->GetStats();
    row.dropped = int64_t(stats.dropped);
    row.fileMb = double(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
    const capture::ParseResult r = capture::LoadCapture(path);
    if (!r.Ok()) {
      error = path + ": " + r.error;
      return false;
    }
    row.inFile = 0;
    for (const auto& f : r.frames) row.inFile += f.bytes.size() >= 8 && f.bytes[1] == 0x4B;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 10;
  std::string tpcsim = TPCSIM_PATH;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::puts(
          "Usage: bench_capture [--quick] [--tpcsim PATH]\n"
          "Recording at 8000 frames/s for 10 s (2 s with --quick): loss and CPU cost.");
      return 0;
    }
    if (a == "--version") {
      std::printf("bench_capture %s\n", VT_BENCH_VERSION);
      return 0;
    }
    if (a == "--quick") {
      seconds = 2;
    } else if (a == "--tpcsim" && i + 1 < argc) {
      tpcsim = argv[++i];
    } else {
      std::fprintf(stderr, "bench_capture: unknown option '%s'\n", a.c_str());
      return 2;
    }
  }
  SimProcess sim;
  std::string error;
  if (!sim.Start(tpcsim, {}, error)) {
    std::fprintf(stderr, "bench_capture: %s\n", error.c_str());
    return 1;
  }
  setenv("HIDPIPE_SIM", sim.SocketPath().c_str(), 1);
  char tmpl[] = "/tmp/vt-bench-capture-XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);

  const struct {
    const char* name;
    std::string path;
  } phases[] = {{"no recording", ""},
                {"recording", dir + "/bench.capture"},
                {"recording .zst", dir + "/bench.capture.zst"}};
  std::vector<Row> rows;
  int status = 0;
  for (const auto& p : phases) {
    Row row;
    if (!RunPhase(sim, p.name, p.path, seconds, row, error)) {
      std::fprintf(stderr, "bench_capture: %s: %s\n", p.name, error.c_str());
      status = 1;
      continue;
    }
    rows.push_back(row);
  }
  sim.Stop();
  std::filesystem::remove_all(dir);

  double loadavg[3] = {0, 0, 0};
  getloadavg(loadavg, 3);
  std::printf("\nload average %.2f %.2f %.2f, %ld cores\n", loadavg[0], loadavg[1], loadavg[2],
              sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("%-16s %6s %9s %9s %8s %8s %7s\n", "config", "s", "received", "in file", "dropped",
              "file MB", "cpu %");
  for (const Row& r : rows) {
    std::printf("%-16s %6.1f %9lld %9s %8lld %8.2f %7.2f\n", r.config.c_str(), r.seconds,
                static_cast<long long>(r.received),
                r.inFile < 0 ? "-" : std::to_string(r.inFile).c_str(),
                static_cast<long long>(r.dropped), r.fileMb, r.cpuPct);
  }
  if (rows.size() == 3) {
    for (size_t i = 1; i < 3; ++i) {
      const Row& r = rows[i];
      const bool lossless = r.dropped == 0 && r.inFile == r.received;
      BenchSummary::Add("capture", r.config + " at 8000/s, frames lost",
                        std::to_string(r.received - r.inFile + r.dropped), "0",
                        lossless ? BenchSummary::Verdict::kMet : BenchSummary::Verdict::kMissed);
      BenchSummary::Add("capture", r.config + " CPU cost (% of a core)",
                        BenchSummary::Fixed(r.cpuPct - rows[0].cpuPct, 2), "-",
                        BenchSummary::Verdict::kInfo);
      if (!lossless) status = 1;
    }
  }
  return status;
}
