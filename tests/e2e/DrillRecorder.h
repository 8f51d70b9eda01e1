// What a drill sees of the transfer controller's deliveries, and the check that every
// valid data report the simulator sent arrived.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "common/SimProcess.h"
#include "link/CTransCtrl.h"

// Data reports (slot 3), control replies (slot 7) and the stream stamps seen.
class Recorder : public ITransListener {
 public:
  explicit Recorder(CTransCtrl& c) : ctrl_(c) {}
  int OnTransCallback(const TransFrame& frame) override {
    const int len = frame.len;
    const uint8_t* f = frame.bytes;
    if (len >= 5 && f[0] == 0x02 && f[1] == 0x4C && f[3] == 0x04 && len > 5) ++versions;
    if (len == 5 && f[0] == 0x02) {
      ++shortReplies;
      lastStatus = f[4];
    }
    if (IsValidData(f, len)) {
      ++dataFrames;
      // The controller decoded the same frame into the record the views read.
      const DataRecord& d = ctrl_.GetDataRecord();
      if (d.values == nullptr || d.values[0] != (f[7] | f[8] << 8)) ++recordMismatches;
      std::lock_guard<std::mutex> lock(m);
      seqs.insert(Seq(f));
    }
    return 0;
  }
  static bool IsValidData(const uint8_t* f, int len) {
    return len >= 15 && f[0] == 0x02 && f[1] == 0x4B && f[2] == len - 3 && (f[2] - 4) % 2 == 0;
  }
  static uint32_t Seq(const uint8_t* f) {
    return uint32_t(f[7] | f[8] << 8) | uint32_t(f[9] | f[10] << 8) << 16;
  }
  std::atomic<int> versions{0}, shortReplies{0}, lastStatus{-1}, dataFrames{0};
  std::atomic<int> recordMismatches{0};
  std::mutex m;
  std::set<uint32_t> seqs;

 private:
  CTransCtrl& ctrl_;
};

class Host : public ITransHost {
 public:
  void ApplyPanelInfo(const PanelInfo&) override { ++applied; }
  void ShowPanelInfoFailure() override { ++failures; }
  std::atomic<int> applied{0}, failures{0};
};

// Runs the stream with about one frame in ten spoilt (garbage before it, cut short, or a
// lying length byte) for `seconds`, then checks that every valid data report in the
// simulator's trace was delivered. Returns the number of valid and of spoilt reports.
inline std::pair<size_t, size_t> RunBadFrameDrill(SimProcess& sim, CTransCtrl& ctrl, Recorder& rec,
                                                  int seconds) {
  static constexpr char kStartM0Raw[] = "SEND 024E020400 ";
  EXPECT_TRUE(sim.Ok("stream-seq on"));
  const size_t mark = sim.TraceFrames("D>H").size();
  {
    std::lock_guard<std::mutex> lock(rec.m);
    rec.seqs.clear();
  }
  for (const char* f : {"garbage 29", "truncate 31", "badlen 37"}) EXPECT_TRUE(sim.Ok(f));
  ctrl.SendCmd(kStartM0Raw, int(std::strlen(kStartM0Raw)), 1, 1);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_NE(ctrl.GetLinkState(), kLinkClosed);
  }
  for (const char* f :
       {"stream off", "garbage off", "truncate off", "badlen off", "stream-seq off"}) {
    EXPECT_TRUE(sim.Ok(f));
  }

  std::set<uint32_t> expected;
  size_t bad = 0;
  auto frames = sim.TraceFrames("D>H");
  for (size_t i = mark; i < frames.size(); ++i) {
    const auto& f = frames[i];
    if (f.size() < 2 || f[1] != 0x4B) continue;
    if (Recorder::IsValidData(f.data(), int(f.size()))) {
      expected.insert(Recorder::Seq(f.data()));
    } else {
      ++bad;
    }
  }
  std::vector<uint32_t> missing;
  const bool all = WaitUntil([&] {
    std::lock_guard<std::mutex> lock(rec.m);
    missing.clear();
    for (uint32_t s : expected) {
      if (!rec.seqs.count(s)) missing.push_back(s);
    }
    return missing.empty();
  });
  EXPECT_TRUE(all) << missing.size() << " of " << expected.size() << " valid reports missing";
  EXPECT_EQ(rec.recordMismatches, 0);
  std::printf("bad-frame drill: %zu valid data reports delivered, %zu spoilt ones sent\n",
              expected.size(), bad);
  return {expected.size(), bad};
}
