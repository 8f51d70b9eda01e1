// Link figures: command strings to frames, serial reassembly, and the transfer
// controller's per-frame path (read, decode, route, deliver) on its receive thread.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "FakeStreamLink.h"
#include "link/CSerialFrameAssembler.h"
#include "link/CTransCtrl.h"
#include "link/CommandString.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::vector<std::string> kCommands = {
    "SEND 024C020400 ",        // GetVersion
    "SEND 024E020400 ",        // GetM0RawData
    "SEND  024E0180 ",         // StopContinuallyReport, two blanks
    "SEND 024C04070001F401 ",  // SetM1SpiFreq 500 kHz
    "SEND 024c020501 ",        // report target, lower case
};

void BM_CommandToUsbFrame(benchmark::State& state) {
  uint8_t out[CommandString::kUsbBufferSize];
  size_t i = 0;
  for (auto _ : state) {
    int n = CommandString::ToUsbFrame(kCommands[i], out);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(out);
    i = i + 1 == kCommands.size() ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CommandToUsbFrame);

void BM_CommandToSerialPacket(benchmark::State& state) {
  uint8_t out[CommandString::kMaxPacketSize];
  size_t i = 0;
  for (auto _ : state) {
    int n = CommandString::ToSerialPacket(kCommands[i], out);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(out);
    i = i + 1 == kCommands.size() ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CommandToSerialPacket);

// A data report of `values` values as the controller sends it.
Bytes DataReport(uint8_t code, uint8_t start, uint8_t direction, int values, uint16_t seed) {
  Bytes f = {0x02,
             0x4B,
             static_cast<uint8_t>(4 + 2 * values),
             code,
             direction == 1 ? start : uint8_t{0},
             direction == 0 ? start : uint8_t{0},
             direction};
  for (int v = 0; v < values; ++v) {
    const uint16_t value = static_cast<uint16_t>(990 + (seed + v * 7) % 21);
    f.push_back(static_cast<uint8_t>(value & 0xFF));
    f.push_back(static_cast<uint8_t>(value >> 8));
  }
  return f;
}

// One M0 scan of a 38 x 22 panel, 20 values per frame, like tpcsim's default stream.
std::vector<Bytes> M0Scan() {
  return {DataReport(0x00, 0, 1, 20, 1), DataReport(0x00, 20, 1, 18, 2),
          DataReport(0x00, 0, 0, 11, 3), DataReport(0x00, 11, 0, 11, 4)};
}

// Serial packets of many scans, joined: STX, upper-case hex, CR.
Bytes SerialStream(size_t minBytes, size_t& frames) {
  static const char kHex[] = "0123456789ABCDEF";
  Bytes out;
  frames = 0;
  uint16_t seed = 0;
  while (out.size() < minBytes) {
    for (int k = 0; k < 4; ++k) {
      Bytes f =
          DataReport(0x00, static_cast<uint8_t>(k * 5), k < 2 ? 1 : 0, k < 2 ? 20 : 11, ++seed);
      out.push_back(0x02);
      for (uint8_t b : f) {
        out.push_back(static_cast<uint8_t>(kHex[b >> 4]));
        out.push_back(static_cast<uint8_t>(kHex[b & 15]));
      }
      out.push_back(0x0D);
      ++frames;
    }
  }
  return out;
}

// Reads of a serial port return whatever has arrived: here 1 to range(0) bytes each.
void BM_SerialReassembly(benchmark::State& state) {
  size_t frames = 0;
  const Bytes stream = SerialStream(size_t{1} << 20, frames);
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> split(1, static_cast<int>(state.range(0)));
  std::vector<int> chunks;
  for (size_t done = 0; done < stream.size();) {
    int n = std::min<int>(split(rng), static_cast<int>(stream.size() - done));
    chunks.push_back(n);
    done += static_cast<size_t>(n);
  }
  auto assembler = std::make_unique<CSerialFrameAssembler>();
  auto out = std::make_unique<uint8_t[]>(CSerialFrameAssembler::kDecodedSize);
  for (auto _ : state) {
    assembler->Reset();
    size_t pos = 0, got = 0;
    for (int n : chunks) {
      std::memcpy(assembler->RawBuffer(), stream.data() + pos, static_cast<size_t>(n));
      assembler->SetRawCount(n);
      pos += static_cast<size_t>(n);
      while (assembler->Scan(out.get()) > 0) ++got;
    }
    if (got != frames) {
      state.SkipWithError("frames lost in reassembly");
      break;
    }
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * frames));
}
BENCHMARK(BM_SerialReassembly)->Arg(16)->Arg(256)->Arg(4096);

// Counts deliveries and reads the decoded record, as the Wave Window does.
class CountingListener : public ITransListener {
 public:
  explicit CountingListener(CTransCtrl& ctrl) : ctrl_(ctrl) {}
  int OnTransCallback(const TransFrame& frame) override {
    const int len = frame.len;
    const uint8_t* bytes = frame.bytes;
    if (!clockKnown_.load(std::memory_order_relaxed)) {
      clockid_t id;
      if (pthread_getcpuclockid(pthread_self(), &id) == 0) clock_.store(id);
      clockKnown_.store(true);
    }
    const DataRecord& r = ctrl_.GetDataRecord();
    if (bytes[1] == 0x4B && r.values != nullptr) {
      int32_t sum = 0;
      for (int i = 0; i < r.count; ++i) sum += r.values[i];
      benchmark::DoNotOptimize(sum);
    }
    benchmark::DoNotOptimize(len);
    if (count_.fetch_add(1) + 1 == want_.load()) {
      std::lock_guard<std::mutex> lock(m_);
      cv_.notify_one();
    }
    return 0;
  }
  // Waits until n deliveries have arrived in all.
  void WaitFor(int64_t n) {
    want_.store(n);
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return count_.load() >= n; });
  }
  int64_t Count() const { return count_.load(); }
  // CPU time of the thread that delivers (the receive thread), in seconds.
  double DelivererCpuSeconds() const {
    timespec ts{};
    if (!clockKnown_.load() || clock_gettime(clock_.load(), &ts) != 0) return 0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }

 private:
  CTransCtrl& ctrl_;
  std::atomic<int64_t> count_{0};
  std::atomic<int64_t> want_{-1};
  std::atomic<bool> clockKnown_{false};
  std::atomic<clockid_t> clock_{CLOCK_THREAD_CPUTIME_ID};
  std::mutex m_;
  std::condition_variable cv_;
};

// Frames per second through the receive thread: fake USB link, direct deliverer,
// listeners in slot 3 (Wave Window) and slot 1 (XY Window).
void RunDecodeAndRoute(benchmark::State& state, std::vector<Bytes> frames) {
  constexpr int64_t kBatch = 20000;
  CTransCtrl ctrl;
  CDirectDeliverer direct;
  ctrl.SetDeliverer(&direct);
  FakeStreamLink* link = nullptr;
  ctrl.SetLinkFactory([&](int) {
    auto l = std::make_unique<FakeStreamLink>(frames);
    link = l.get();
    return l;
  });
  ctrl.SetIdentity(0, 0x227D, 0x0102, 2);
  CountingListener wave(ctrl), xy(ctrl);
  ctrl.RegisterListener(3, 2, &wave);
  ctrl.RegisterListener(1, 2, &xy);
  if (ctrl.Open(kLinkUsb, nullptr) != 1 || link == nullptr) {
    state.SkipWithError("link did not open");
    return;
  }
  int64_t target = kBatch;  // a first batch warms up and names the receive thread
  link->Allow(kBatch);
  wave.WaitFor(target);
  const double cpuStart = wave.DelivererCpuSeconds();
  for (auto _ : state) {
    target += kBatch;
    link->Allow(kBatch);
    wave.WaitFor(target);
  }
  const double cpu = wave.DelivererCpuSeconds() - cpuStart;
  ctrl.Close();
  CTransCtrl::ClearPending();
  state.SetItemsProcessed(state.iterations() * kBatch);
  // Frames per second of the receive thread's own CPU time: one core's worth, whatever
  // else the machine runs.
  if (cpu > 0) {
    state.counters["frames_per_core_s"] = static_cast<double>(state.iterations() * kBatch) / cpu;
  }
}

void BM_DecodeAndRoute(benchmark::State& state) {
  RunDecodeAndRoute(state, M0Scan());
}
BENCHMARK(BM_DecodeAndRoute)->UseRealTime()->MinTime(1.0);

void BM_DecodeAndRouteTouch(benchmark::State& state) {
  // Two fingers per multi-touch report; slot 3 and slot 1 both take it.
  Bytes touch = {0x02, 0x4D, 13, 2, 7, 0, 0x00, 0x02, 0x00, 0x01, 7, 1, 0x10, 0x03, 0x20, 0x02};
  RunDecodeAndRoute(state, {touch});
}
BENCHMARK(BM_DecodeAndRouteTouch)->UseRealTime()->MinTime(1.0);

}  // namespace
