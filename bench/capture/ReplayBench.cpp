// Replaying long captures: a generated one-hour session at 8000 frames/s (about 2.8 GB of
// text), plain and compressed, in a private folder under /tmp. Figures per file: time
// from opening to the first device frame (the program's replay path, in process),
// indexing rate, seek time once indexed, tpcsim --replay's first answer and resident
// memory, VantrelTool --replay's resident memory.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/BenchSummary.h"
#include "bench/e2e/SimProcess.h"
#include "capture/CReplayPlayer.h"
#include "capture/CaptureReader.h"
#include "capture/CaptureSink.h"
#include "link/CTransCtrl.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Verdict = BenchSummary::Verdict;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// CPU seconds of this process (the indexer's, while the main thread waits for it), or of
// the calling thread.
double CpuSeconds(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID) {
  timespec ts{};
  ::clock_gettime(clock, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The session: version asked and answered, a stream started, then 40-byte data reports
// every 125 us.
bool Generate(const std::string& path, int64_t frames, std::string& error) {
  capture::CaptureSink sink;
  if (!sink.Open(path)) {
    error = sink.Error();
    return false;
  }
  capture::Header h;
  h.program = "bench_replay";
  h.link = capture::LinkKind::kUsb;
  h.linkDetail = "vid=227D pid=0102 iface=1 ostype=2";
  h.firmware = "TPCSIM 1.0.0";
  h.start = capture::NowIso8601();
  std::string text = capture::HeaderText(h);
  const uint8_t version[] = {0x02, 0x4C, 0x02, 0x04, 0x00};
  const uint8_t reply[] = {0x02, 0x4C, 0x0D, 0x04, 'T', 'P', 'C', 'S',
                           'I',  'M',  ' ',  '1',  '.', '0', '.', '0'};
  const uint8_t start[] = {0x02, 0x4E, 0x02, 0x04, 0x00};
  const uint8_t ack[] = {0x02, 0x4E, 0x02, 0x04, 0x01};
  using capture::Direction;
  capture::AppendFrameLine(text, 0, Direction::kHostToDevice, version, 5);
  capture::AppendFrameLine(text, 500, Direction::kDeviceToHost, reply, 16);
  capture::AppendFrameLine(text, 1000, Direction::kHostToDevice, start, 5);
  capture::AppendFrameLine(text, 1200, Direction::kDeviceToHost, ack, 5);
  uint8_t data[40] = {0x02, 0x4B, 0x25, 0x00};
  std::mt19937 noise(7);
  for (int64_t i = 0; i < frames; ++i) {
    data[4] = uint8_t(i % 4);
    for (int k = 5; k + 1 < 40; k += 2) {
      data[k] = 0x03;
      data[k + 1] = uint8_t(0xE0 + noise() % 16);
    }
    capture::AppendFrameLine(text, 2000 + i * 125, Direction::kDeviceToHost, data, 40);
    if (text.size() >= (4u << 20)) {
      if (!sink.Write(text)) break;
      text.clear();
    }
  }
  if (!sink.Write(text) || !sink.Close()) {
    error = sink.Error();
    return false;
  }
  return true;
}

long RssKb(pid_t pid, const char* key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  }
  return -1;
}

// The highest resident memory of a process over `seconds`.
long PeakRssMb(pid_t pid, double seconds) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  long peak = 0;
  while (Clock::now() < end) {
    peak = std::max(peak, RssKb(pid, "VmRSS:"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return std::max(peak, RssKb(pid, "VmHWM:")) / 1024;
}

struct Figures {
  double firstFrameMs = 0;
  double indexMbPerS = 0;
  double indexMbPerCpuS = 0;  // the same over the CPU time it took (a loaded machine)
  double indexSeconds = 0;
  double seekMedianMs = 0;
  double seekMaxMs = 0;
  double seekMaxCpuMs = 0;        // the CPU time of the slowest seek (a loaded machine)
  double playerSeekMedianMs = 0;  // the replay bar's seek: the cursor's and the look-back
  double playerSeekMaxMs = 0;
  double simFirstAnswerMs = -1;
  long simRssMb = -1;
  long toolRssMb = -1;
  double toolFirstFrameMs = -1;  // VantrelTool: start until its link reads the first frame
};

// Waits until `file` holds `text`; the time from `t0`, or -1 when it never came.
double MsUntilFileHolds(const std::string& file, const std::string& text, Clock::time_point t0,
                        double seconds) {
  while (Clock::now() - t0 < std::chrono::duration<double>(seconds)) {
    std::ifstream in(file);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (all.find(text) != std::string::npos)
      return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return -1;
}

bool InProcess(const std::string& path, Figures& f, std::string& error) {
  const auto t0 = Clock::now();
  const double cpu0 = CpuSeconds();
  auto reader = capture::CaptureReader::Open(path, error);
  if (!reader) return false;
  capture::CReplayPlayer player(reader);
  player.SetSpeed(capture::CReplayPlayer::kAsFastAsPossible);
  player.Play();
  uint8_t buf[4096];
  while (player.Next(buf, sizeof buf) == 0) player.WaitForInput(10);
  f.firstFrameMs = Ms(Clock::now() - t0);
  reader->WaitIndexed(3600 * 1000);
  f.indexSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
  const auto p = reader->GetProgress();
  f.indexMbPerS = double(p.textBytes) / 1e6 / f.indexSeconds;
  f.indexMbPerCpuS = double(p.textBytes) / 1e6 / std::max(CpuSeconds() - cpu0, 1e-6);
  auto cursor = reader->NewCursor();
  std::mt19937_64 rng(11);
  std::vector<double> seeks, playerSeeks;
  capture::Frame frame;
  player.Pause();
  for (int i = 0; i < 100; ++i) {
    const int64_t us = int64_t(rng() % uint64_t(p.durationUs));
    const auto s0 = Clock::now();
    const double c0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    cursor->Seek(us);
    cursor->Next(frame);
    seeks.push_back(Ms(Clock::now() - s0));
    f.seekMaxCpuMs = std::max(f.seekMaxCpuMs, (CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - c0) * 1e3);
    if (frame.us < us) {
      error = "a seek landed before its time";
      return false;
    }
    const auto p0 = Clock::now();
    player.Seek(us);
    playerSeeks.push_back(Ms(Clock::now() - p0));
  }
  std::sort(playerSeeks.begin(), playerSeeks.end());
  f.playerSeekMedianMs = playerSeeks[playerSeeks.size() / 2];
  f.playerSeekMaxMs = playerSeeks.back();
  std::sort(seeks.begin(), seeks.end());
  f.seekMedianMs = seeks[seeks.size() / 2];
  f.seekMaxMs = seeks.back();
  return true;
}

struct Replies : ITransListener {
  std::atomic<bool> got{false};
  int OnTransCallback(const TransFrame&) override {
    got = true;
    return 0;
  }
};

// The link library takes its socket once a process: every run serves on the same one.
bool Simulator(const std::string& tpcsim, const std::string& socket, const std::string& path,
               Figures& f, std::string& error) {
  const auto t0 = Clock::now();
  SimProcess sim;
  if (!sim.Start(tpcsim, {"--socket", socket, "--replay", path}, error)) return false;
  CTransCtrl ctrl;
  ctrl.SetIdentity(0, 0x227D, 0x0102, 2);
  if (ctrl.Open(kLinkUsb, nullptr) != 1) {
    error = "the USB link to tpcsim did not open";
    return false;
  }
  while (ctrl.FirmwareVersion().empty() && Clock::now() - t0 < std::chrono::seconds(30)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (ctrl.FirmwareVersion().empty()) {
    error = "tpcsim did not answer the version query";
    return false;
  }
  f.simFirstAnswerMs = Ms(Clock::now() - t0);
  f.simRssMb = PeakRssMb(sim.Pid(), f.indexSeconds * 1.5 + 2);
  ctrl.Close();
  return true;
}

bool Program(const std::string& tool, const std::string& path, Figures& f, std::string& error) {
  char tmpl[] = "/tmp/vt-bench-tool-XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  const std::string ini = dir + "/tool.ini";
  std::vector<std::string> args = {tool, "--config", ini, "--replay", path};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "VANTREL_TRACE=1", "TMPDIR=" + dir,
                                  "XDG_RUNTIME_DIR=" + dir, "HOME=" + dir};
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 2, (dir + "/err.txt").c_str(), O_WRONLY | O_CREAT, 0600);
  pid_t pid = -1;
  const auto t0 = Clock::now();
  const int rc = ::posix_spawn(&pid, tool.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) {
    error = "cannot start " + tool;
    return false;
  }
  // The replay bar starts paused: the first frame is the capture's answer to the
  // program's first request, shown as soon as the link reads it.
  f.toolFirstFrameMs = MsUntilFileHolds(dir + "/err.txt", "[CReplayLink] first frame read", t0, 10);
  f.toolRssMb = PeakRssMb(pid, f.indexSeconds * 1.5 + 3);
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  std::filesystem::remove_all(dir);
  return true;
}

void Report(const std::string& kind, const Figures& f) {
  const std::string area = "replay " + kind;
  auto add = [&](const std::string& figure, const std::string& value, const std::string& target,
                 bool met) {
    BenchSummary::Add(area, figure, value, target, met ? Verdict::kMet : Verdict::kMissed);
  };
  add("open to first device frame (in process)", BenchSummary::Fixed(f.firstFrameMs, 1) + " ms",
      "< 1000 ms", f.firstFrameMs < 1000);
  add("indexing rate, wall clock (per CPU second)",
      BenchSummary::Fixed(f.indexMbPerS, 0) + " MB/s (" + BenchSummary::Fixed(f.indexMbPerCpuS, 0) +
          " MB/s)",
      ">= 200 MB/s", f.indexMbPerS >= 200);
  add("seek once indexed, median / max (max CPU)",
      BenchSummary::Fixed(f.seekMedianMs, 2) + " / " + BenchSummary::Fixed(f.seekMaxMs, 2) +
          " ms (" + BenchSummary::Fixed(f.seekMaxCpuMs, 2) + " ms)",
      "< 100 ms", f.seekMaxMs < 100);
  add("replay bar seek (with the answers' look-back), median / max",
      BenchSummary::Fixed(f.playerSeekMedianMs, 2) + " / " +
          BenchSummary::Fixed(f.playerSeekMaxMs, 2) + " ms",
      "< 100 ms", f.playerSeekMaxMs < 100);
  if (f.simFirstAnswerMs >= 0) {
    add("tpcsim --replay: start to first answer",
        BenchSummary::Fixed(f.simFirstAnswerMs, 0) + " ms", "< 1000 ms", f.simFirstAnswerMs < 1000);
    add("tpcsim --replay: peak resident memory", std::to_string(f.simRssMb) + " MB", "< 150 MB",
        f.simRssMb < 150);
  }
  if (f.toolRssMb >= 0) {
    add("VantrelTool --replay: start to first frame",
        f.toolFirstFrameMs < 0 ? std::string("none in 10 s")
                               : BenchSummary::Fixed(f.toolFirstFrameMs, 0) + " ms",
        "< 1000 ms", f.toolFirstFrameMs >= 0 && f.toolFirstFrameMs < 1000);
    add("VantrelTool --replay: peak resident memory", std::to_string(f.toolRssMb) + " MB",
        "< 150 MB", f.toolRssMb < 150);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int64_t frames = int64_t{3600} * 8000;
  std::string tpcsim = TPCSIM_PATH;
  std::string tool = VANTRELTOOL_PATH;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::puts(
          "Usage: bench_replay [--quick] [--frames N] [--keep]\n"
          "Generates a one-hour capture at 8000 frames/s (--quick: 2 minutes) in /tmp, plain\n"
          "and .zst, and measures opening, indexing, seeking, tpcsim --replay and\n"
          "VantrelTool --replay on it. --keep leaves the files.");
      return 0;
    }
    if (a == "--version") {
      std::printf("bench_replay %s\n", VT_BENCH_VERSION);
      return 0;
    }
    if (a == "--quick") {
      frames = int64_t{120} * 8000;
    } else if (a == "--frames" && i + 1 < argc) {
      frames = std::atoll(argv[++i]);
    } else if (a == "--keep") {
      keep = true;
    } else {
      std::fprintf(stderr, "bench_replay: unknown option '%s'\n", a.c_str());
      return 2;
    }
  }
  char tmpl[] = "/tmp/vt-replay-bench-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) return 2;
  const std::string dir = tmpl;
  const std::string socket = dir + "/sim.sock";
  ::setenv("HIDPIPE_SIM", socket.c_str(), 1);
  int status = 0;
  for (const char* name : {"hour.capture", "hour.capture.zst"}) {
    const std::string path = dir + "/" + name;
    std::string error;
    const auto g0 = Clock::now();
    if (!Generate(path, frames, error)) {
      std::fprintf(stderr, "bench_replay: %s\n", error.c_str());
      return 2;
    }
    std::printf("%s: %lld frames, %.0f MB on disk, written in %.1f s\n", name,
                static_cast<long long>(frames), double(std::filesystem::file_size(path)) / 1e6,
                std::chrono::duration<double>(Clock::now() - g0).count());
    Figures f;
    if (!InProcess(path, f, error) || !Simulator(tpcsim, socket, path, f, error) ||
        (!tool.empty() && !Program(tool, path, f, error))) {
      std::fprintf(stderr, "bench_replay: %s: %s\n", name, error.c_str());
      status = 1;
    }
    std::printf(
        "  first frame %.1f ms, indexed in %.1f s (%.0f MB/s, %.0f MB per CPU s), seek median "
        "%.2f ms max %.2f ms (%.2f ms CPU), replay bar seek median %.2f ms max %.2f ms\n"
        "  tpcsim: first answer %.0f ms, peak RSS %ld MB; VantrelTool: first frame %.0f ms, "
        "peak RSS %ld MB\n",
        f.firstFrameMs, f.indexSeconds, f.indexMbPerS, f.indexMbPerCpuS, f.seekMedianMs,
        f.seekMaxMs, f.seekMaxCpuMs, f.playerSeekMedianMs, f.playerSeekMaxMs, f.simFirstAnswerMs,
        f.simRssMb, f.toolFirstFrameMs, f.toolRssMb);
    Report(std::string(name).find(".zst") != std::string::npos ? ".zst" : "plain", f);
    if (!keep) std::filesystem::remove(path);
  }
  if (!keep) std::filesystem::remove_all(dir);
  return status;
}
