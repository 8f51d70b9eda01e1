// The end-to-end benchmark counts loss and latency from the stamps in data reports; a
// fault here would make every figure wrong, so the probe is checked through a real
// transfer controller.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/e2e/CpuClock.h"
#include "bench/e2e/SeqProbe.h"
#include "bench/micro/FakeStreamLink.h"
#include "link/CTransCtrl.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A data report whose first four values carry seq and the send stamp, as tpcsim sends.
Bytes Stamped(uint32_t seq, uint32_t sentUs) {
  const uint16_t v[6] = {static_cast<uint16_t>(seq & 0xFFFF),
                         static_cast<uint16_t>(seq >> 16),
                         static_cast<uint16_t>(sentUs & 0xFFFF),
                         static_cast<uint16_t>(sentUs >> 16),
                         1000,
                         1001};
  Bytes f = {0x02, 0x4B, 4 + 12, 0x00, 0, 0, 1};
  for (uint16_t x : v) {
    f.push_back(static_cast<uint8_t>(x & 0xFF));
    f.push_back(static_cast<uint8_t>(x >> 8));
  }
  return f;
}

// Runs frames through a controller on a fake USB link into the probe in slot 3.
SeqProbe::Figures RunThrough(const std::vector<Bytes>& frames, int64_t expected) {
  CTransCtrl ctrl;
  CDirectDeliverer direct;
  ctrl.SetDeliverer(&direct);
  FakeStreamLink* link = nullptr;
  ctrl.SetLinkFactory([&](int) {
    auto l = std::make_unique<FakeStreamLink>(frames);
    link = l.get();
    return l;
  });
  SeqProbe probe(ctrl);
  probe.Reset();
  ctrl.RegisterListener(3, 2, &probe);
  EXPECT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
  link->Allow(static_cast<int64_t>(frames.size()));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (probe.Delivered() < expected && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ctrl.Close();
  CTransCtrl::ClearPending();
  return probe.Take();
}

}  // namespace

TEST(BenchProbe, CountsGapsAndReorderingFromSequenceNumbers) {
  const uint32_t now = CpuClock::MonotonicUs32();
  // 0, 1, then 4 (2 and 3 lost), then 3 again (late), then 70000 (crosses the 16-bit half).
  const auto f = RunThrough(
      {Stamped(0, now), Stamped(1, now), Stamped(4, now), Stamped(3, now), Stamped(70000, now)}, 5);
  EXPECT_EQ(f.delivered, 5);
  EXPECT_EQ(f.gaps, 2 + (70000 - 3 - 1));
  EXPECT_EQ(f.reordered, 1);
}

TEST(BenchProbe, LatencyIsMeasuredFromTheSendStampAcrossTheClockWrap) {
  // Stamps 5 ms in the past; the low 32 bits may have wrapped in between.
  const uint32_t sent = CpuClock::MonotonicUs32() - 5000;
  const auto f = RunThrough({Stamped(0, sent), Stamped(1, sent), Stamped(2, sent)}, 3);
  ASSERT_EQ(f.delivered, 3);
  EXPECT_GE(f.medianMs, 5.0);
  EXPECT_GE(f.p99Ms, f.medianMs);
  EXPECT_GE(f.maxMs, f.p99Ms);
  EXPECT_LT(f.maxMs, 60000.0);  // not a wrapped (negative) difference
}

TEST(BenchProbe, IgnoresRepliesAndReportsTooShortToCarryStamps) {
  const uint32_t now = CpuClock::MonotonicUs32();
  Bytes ack = {0x02, 0x4E, 0x02, 0x04, 0x01};
  Bytes shortReport = {0x02, 0x4B, 6, 0x00, 0, 0, 1, 0xE8, 0x03};  // one value
  const auto f = RunThrough({ack, Stamped(0, now), shortReport, Stamped(1, now)}, 2);
  EXPECT_EQ(f.delivered, 2);
  EXPECT_EQ(f.gaps, 0);
}
