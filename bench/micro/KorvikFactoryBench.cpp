// Lumora's message factory on received buffers: bytes to message objects per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "bench/common/TargetReporter.h"
#include "calib/framework/TKorvikUsbMessageFactory.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A frame inside the transfer module's zeroed 1024-byte receive buffer.
Bytes Received(const Bytes& frame) {
  Bytes buffer(1024, 0);
  std::copy(frame.begin(), frame.end(), buffer.begin());
  return buffer;
}

Bytes RawData() {
  Bytes f = {0x02, 0x4B, 44, 0x00, 0, 0, 1};
  for (int v = 0; v < 20; ++v) {
    f.push_back(static_cast<std::uint8_t>((1000 + v) & 0xFF));
    f.push_back(static_cast<std::uint8_t>((1000 + v) >> 8));
  }
  return f;
}

void RunFactory(benchmark::State& state, const Bytes& frame) {
  TKorvikObj owner;
  int64_t logs = 0;
  owner.SetOnLog([&logs](const std::string&, std::uint8_t) { ++logs; });
  TKorvikUsbMessageFactory factory(&owner);
  const Bytes buffer = Received(frame);
  for (auto _ : state) {
    auto msg = factory.CreateUsbMessage(TKorvikUsbMessageFactory::DirectionReceived, buffer);
    if (!msg) {
      state.SkipWithError("no message built");
      break;
    }
    benchmark::DoNotOptimize(msg.get());
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["logs_per_msg"] =
      state.iterations() > 0 ? static_cast<double>(logs) / static_cast<double>(state.iterations())
                             : 0;
}

void BM_FactoryRawData(benchmark::State& state) {
  RunFactory(state, RawData());
}
BENCHMARK(BM_FactoryRawData);

void BM_FactoryCoordinates(benchmark::State& state) {
  // Two 6-byte entries: Data length 16 = 2 x 6 + 4.
  RunFactory(state,
             {0x02, 0x4D, 13, 2, 7, 0, 0x00, 0x02, 0x00, 0x01, 7, 1, 0x10, 0x03, 0x20, 0x02});
}
BENCHMARK(BM_FactoryCoordinates);

void BM_FactoryAck(benchmark::State& state) {
  RunFactory(state, {0x02, 0x4C, 0x02, 0x01, 0x01});  // Calibrate acknowledged
}
BENCHMARK(BM_FactoryAck);

void BM_FactoryVersion(benchmark::State& state) {
  RunFactory(state,
             {0x02, 0x4C, 0x0D, 0x04, 'T', 'P', 'C', 'S', 'I', 'M', ' ', '1', '.', '0', '.', '0'});
}
BENCHMARK(BM_FactoryVersion);

}  // namespace

int main(int argc, char** argv) {
  TargetReporter reporter("lumora");
  reporter.AddInfo("BM_FactoryRawData",
                   {"CreateUsbMessage, raw data report", "items_per_second", 0, 0, "msgs"});
  reporter.AddInfo("BM_FactoryCoordinates",
                   {"CreateUsbMessage, coordinates report", "items_per_second", 0, 0, "msgs"});
  reporter.AddInfo("BM_FactoryAck",
                   {"CreateUsbMessage, acknowledgement", "items_per_second", 0, 0, "msgs"});
  reporter.AddInfo("BM_FactoryVersion",
                   {"CreateUsbMessage, version reply", "items_per_second", 0, 0, "msgs"});
  return RunBenchmarks(argc, argv, reporter);
}
