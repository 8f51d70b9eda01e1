// The library through its C API against an in-test simulator peer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SimPeer.h"
#include "hidpipe/hidpipe.h"

using namespace std::chrono_literals;

namespace {

// The backend is chosen at the library's first call: name the socket before any test runs.
const std::string kSocket = "/tmp/hidpipe-test-" + std::to_string(::getpid()) + ".sock";
const bool kEnvSet = [] { return ::setenv("HIDPIPE_SIM", kSocket.c_str(), 1) == 0; }();

struct Notice {
  int event;
  std::string path;
};

// Collects notices delivered to the callback.
class NoticeLog {
 public:
  static void callback(int event, const char* path, void* user) {
    static_cast<NoticeLog*>(user)->add(event, path);
  }
  void add(int event, const char* path) {
    std::lock_guard lk(m_);
    notices_.push_back({event, path});
    cv_.notify_all();
  }
  bool waitFor(int event, const std::string& path, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lk(m_);
    return cv_.wait_for(lk, timeout, [&] {
      for (const Notice& n : notices_)
        if (n.event == event && n.path == path) return true;
      return false;
    });
  }
  void clear() {
    std::lock_guard lk(m_);
    notices_.clear();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<Notice> notices_;
};

uint32_t seqOf(const uint8_t* report) {
  uint32_t seq;
  std::memcpy(&seq, report + 4, sizeof seq);
  return seq;
}

class SimBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kEnvSet);
    hidSetDrainRing(1);
    ASSERT_EQ(hidOpen(nullptr), 1);
  }
  void TearDown() override {
    hidSetNoticeCallback(nullptr, nullptr);
    hidCloseMyDevice();
    hidSetDrainRing(1);
    peer_.reset();
  }

  void startPeer() { peer_ = std::make_unique<SimPeer>(kSocket); }
  void openDevice() {
    ASSERT_EQ(hidOpenMyDevice(SimPeer::kVid, SimPeer::kPid, SimPeer::kIface), 1);
    hidEnableRecv(1);
  }
  // Every message the peer sent before this has been handled once the barrier notice is in.
  void barrier(const std::string& tag) {
    peer_->notice(true, tag);
    ASSERT_TRUE(log_.waitFor(HIDPIPE_ARRIVAL, tag));
  }

  std::unique_ptr<SimPeer> peer_;
  NoticeLog log_;
};

TEST_F(SimBackendTest, ProgramStartedBeforeSimulatorFindsItWhenItComesUp) {
  EXPECT_EQ(hidOpenMyDevice(SimPeer::kVid, SimPeer::kPid, SimPeer::kIface), 0);
  ASSERT_EQ(hidSetNoticeCallback(&NoticeLog::callback, &log_), 1);
  startPeer();
  // The notice thread keeps trying; the simulator greets it with the plugged device.
  ASSERT_TRUE(log_.waitFor(HIDPIPE_ARRIVAL, peer_->devicePath()));
  openDevice();

  // The simulator going away takes its device with it.
  const std::string path = peer_->devicePath();
  peer_.reset();
  EXPECT_TRUE(log_.waitFor(HIDPIPE_REMOVAL, path));
  const uint8_t frame[5] = {0x02, 0x4C, 0x02, 0x04, 0x00};
  EXPECT_EQ(hidSend(frame), 0);

  // A restarted simulator is reached again at the next open.
  startPeer();
  openDevice();
  EXPECT_EQ(hidSend(frame), 1);
  EXPECT_TRUE(peer_->waitForOutputs(1, 5s));
}

TEST_F(SimBackendTest, OpenMatchesOnlyTheSimulatedIdentity) {
  startPeer();
  EXPECT_EQ(hidOpenMyDevice(0, SimPeer::kPid, SimPeer::kIface), 0);
  EXPECT_EQ(hidOpenMyDevice(SimPeer::kVid, 0, SimPeer::kIface), 0);
  EXPECT_EQ(hidOpenMyDevice(SimPeer::kVid, 0x0103, SimPeer::kIface), 0);
  EXPECT_EQ(hidOpenMyDevice(SimPeer::kVid, SimPeer::kPid, 0), 0);
  EXPECT_EQ(hidOpenMyDevice(SimPeer::kVid, SimPeer::kPid, SimPeer::kIface), 1);
  // Opening again closes the device opened before.
  EXPECT_EQ(hidOpenMyDevice(SimPeer::kVid, SimPeer::kPid, SimPeer::kIface), 1);
  EXPECT_TRUE(peer_->waitForCloses(1, 5s));
}

TEST_F(SimBackendTest, SendTakesFrameLengthFromHeaderForBothCallerStyles) {
  startPeer();
  openDevice();

  // A 128-byte zero-filled buffer with the frame at its start.
  uint8_t padded[128] = {0x02, 0x4E, 0x02, 0x04, 0x00};
  EXPECT_EQ(hidSend(padded), 1);

  // Bare frames, each in an allocation of exactly its own size.
  const std::vector<std::vector<uint8_t>> bare = {
      {0x02, 0x4C, 0x01, 0x01},
      {0xF1, 1, 2, 3, 4, 5, 6, 7},
      std::vector<uint8_t>(64, 0xF2),
  };
  for (const auto& f : bare) {
    auto exact = std::make_unique<uint8_t[]>(f.size());
    std::memcpy(exact.get(), f.data(), f.size());
    EXPECT_EQ(hidSend(exact.get()), 1);
  }

  // Refused: claims more than one report, or a type no host sends.
  const uint8_t tooLong[3] = {0x02, 0x4B, 62};
  const uint8_t unknown[3] = {0x05, 0x4C, 0x01};
  EXPECT_EQ(hidSend(tooLong), 0);
  EXPECT_EQ(hidSend(unknown), 0);
  EXPECT_EQ(hidSend(nullptr), 0);

  ASSERT_TRUE(peer_->waitForOutputs(4, 5s));
  const auto out = peer_->outputs();
  ASSERT_EQ(out.size(), 4u);
  SimPeer::Report expect{};
  std::memcpy(expect.data(), padded, 5);
  EXPECT_EQ(out[0], expect);
  for (size_t i = 0; i < bare.size(); ++i) {
    expect.fill(0);
    std::memcpy(expect.data(), bare[i].data(), bare[i].size());
    EXPECT_EQ(out[i + 1], expect) << "frame " << i;
  }
}

TEST_F(SimBackendTest, RecvReturnsAtOnceOrWaitsForAReport) {
  startPeer();
  peer_->setEcho(true);
  openDevice();
  uint8_t buf[64];
  EXPECT_EQ(hidRecv(buf, 0), 0);
  const uint8_t frame[7] = {0x02, 0x4C, 0x04, 0x07, 0x00, 0x34, 0x12};
  ASSERT_EQ(hidSend(frame), 1);
  // The echo comes while hidRecv waits.
  ASSERT_EQ(hidRecv(buf, 10000), 1);
  EXPECT_EQ(0, std::memcmp(buf, frame, sizeof frame));
  EXPECT_EQ(buf[7], 0);
  EXPECT_EQ(hidRecv(buf, 0), 0);
}

// A report the device sent short arrives zero-filled with the count of bytes that came,
// through the drain ring and without it; hidRecv still says only that one came.
TEST_F(SimBackendTest, ShortReportsArriveWithTheirLength) {
  ASSERT_EQ(hidSetNoticeCallback(&NoticeLog::callback, &log_), 1);
  startPeer();
  for (int ring : {1, 0}) {
    ASSERT_EQ(hidSetDrainRing(ring), 1);
    openDevice();
    std::vector<uint8_t> cut(23, 0x5A);
    cut[0] = 0x02, cut[1] = 0x4B, cut[2] = 44;  // announces 47 bytes
    peer_->send(0x85, cut);
    peer_->sendInput(7);
    peer_->send(0x85, cut);
    barrier("barrier-ring-" + std::to_string(ring));
    uint8_t buf[64];
    std::memset(buf, 0xEE, sizeof buf);
    ASSERT_EQ(hidRecvReport(buf, 1000), 23) << ring;
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 23), cut);
    EXPECT_EQ(std::vector<uint8_t>(buf + 23, buf + 64), std::vector<uint8_t>(41, 0));
    EXPECT_EQ(hidFrameTruncated(buf, 23), 1);
    ASSERT_EQ(hidRecvReport(buf, 1000), 64) << ring;
    EXPECT_EQ(seqOf(buf), 7u);
    EXPECT_EQ(hidFrameTruncated(buf, 64), 0);
    EXPECT_EQ(hidRecv(buf, 1000), 1) << ring;
    EXPECT_EQ(buf[22], 0x5A);
    hidCloseMyDevice();
  }
}

TEST_F(SimBackendTest, DeviceQueueKeepsNewest64WithRingOff) {
  ASSERT_EQ(hidSetNoticeCallback(&NoticeLog::callback, &log_), 1);
  ASSERT_EQ(hidSetDrainRing(0), 1);
  startPeer();
  openDevice();
  for (uint32_t i = 0; i < 100; ++i) peer_->sendInput(i);
  barrier("barrier-1");
  uint8_t buf[64];
  for (uint32_t i = 36; i < 100; ++i) {
    ASSERT_EQ(hidRecv(buf, 0), 1) << i;
    EXPECT_EQ(seqOf(buf), i);
  }
  EXPECT_EQ(hidRecv(buf, 0), 0);
  EXPECT_EQ(hidDroppedReports(), 0u);
}

TEST_F(SimBackendTest, DrainRingKeeps4096AndCountsWhatItDrops) {
  startPeer();
  openDevice();
  constexpr uint32_t kSent = 5000;
  for (uint32_t i = 0; i < kSent; ++i) peer_->sendInput(i);
  ASSERT_TRUE(waitUntil([] { return hidDroppedReports() == kSent - 4096; }));
  uint8_t buf[64];
  for (uint32_t i = kSent - 4096; i < kSent; ++i) {
    ASSERT_EQ(hidRecv(buf, 1000), 1) << i;
    ASSERT_EQ(seqOf(buf), i);
  }
  EXPECT_EQ(hidRecv(buf, 0), 0);
  EXPECT_EQ(hidDroppedReports(), kSent - 4096);

  // Reopening starts the count again.
  openDevice();
  EXPECT_EQ(hidDroppedReports(), 0u);
}

// Bursts close together make the socket's reads wait for reports to gather: every report
// and each notice after a burst still arrives, in order.
TEST_F(SimBackendTest, AFastStreamArrivesWholeAndInOrder) {
  ASSERT_EQ(hidSetNoticeCallback(&NoticeLog::callback, &log_), 1);
  startPeer();
  openDevice();
  constexpr uint32_t kBursts = 20, kPerBurst = 50;
  for (uint32_t b = 0; b < kBursts; ++b) {
    for (uint32_t i = 0; i < kPerBurst; ++i) peer_->sendInput(b * kPerBurst + i);
    barrier("burst-" + std::to_string(b));
  }
  uint8_t buf[64];
  for (uint32_t i = 0; i < kBursts * kPerBurst; ++i) {
    ASSERT_EQ(hidRecv(buf, 0), 1) << i;
    ASSERT_EQ(seqOf(buf), i);
  }
  EXPECT_EQ(hidRecv(buf, 0), 0);
  EXPECT_EQ(hidDroppedReports(), 0u);
}

TEST_F(SimBackendTest, RemovalWhileOpenFailsSendsAndEmptiesReceive) {
  startPeer();
  openDevice();
  // Registered after the open, which leaves behind the previous test's connection and
  // the removal notice its end produced.
  ASSERT_EQ(hidSetNoticeCallback(&NoticeLog::callback, &log_), 1);
  for (uint32_t i = 0; i < 3; ++i) peer_->sendInput(i);
  peer_->unplug();
  ASSERT_TRUE(log_.waitFor(HIDPIPE_REMOVAL, peer_->devicePath()));

  const uint8_t frame[5] = {0x02, 0x4C, 0x02, 0x04, 0x00};
  EXPECT_EQ(hidSend(frame), 0);
  uint8_t buf[64];
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_EQ(hidRecv(buf, 5000), 1);
    EXPECT_EQ(seqOf(buf), i);
  }
  EXPECT_EQ(hidRecv(buf, 0), 0);
  EXPECT_EQ(hidCloseMyDevice(), 1);

  log_.clear();
  peer_->plug();
  ASSERT_TRUE(log_.waitFor(HIDPIPE_ARRIVAL, peer_->devicePath()));
  openDevice();
  EXPECT_EQ(hidSend(frame), 1);
}

TEST_F(SimBackendTest, CloseEndsReceptionAndSucceedsWithNothingOpen) {
  startPeer();
  EXPECT_EQ(hidCloseMyDevice(), 1);
  openDevice();
  peer_->sendInput(7);
  uint8_t buf[64];
  ASSERT_EQ(hidRecv(buf, 5000), 1);
  EXPECT_EQ(hidCloseMyDevice(), 1);
  EXPECT_TRUE(peer_->waitForCloses(1, 5s));
  const uint8_t frame[5] = {0x02, 0x4C, 0x02, 0x04, 0x00};
  EXPECT_EQ(hidSend(frame), 0);
  EXPECT_EQ(hidRecv(buf, 0), 0);
  EXPECT_EQ(hidCloseMyDevice(), 1);
  EXPECT_EQ(hidClose(), 1);
}

TEST_F(SimBackendTest, SendWhileAnotherThreadReceives) {
  startPeer();
  peer_->setEcho(true);
  openDevice();
  constexpr uint32_t kFrames = 500;
  std::vector<uint32_t> got;
  std::thread receiver([&] {
    uint8_t buf[64];
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (got.size() < kFrames && std::chrono::steady_clock::now() < end)
      if (hidRecv(buf, 50) == 1) got.push_back(seqOf(buf));
  });
  for (uint32_t i = 0; i < kFrames; ++i) {
    uint8_t frame[8] = {0x02, 0x4C, 0x05, 0x10};
    std::memcpy(frame + 4, &i, sizeof i);
    ASSERT_EQ(hidSend(frame), 1);
  }
  receiver.join();
  ASSERT_EQ(got.size(), kFrames);
  for (uint32_t i = 0; i < kFrames; ++i) ASSERT_EQ(got[i], i);
}

// Fails the test if called once its registration was removed.
std::atomic<bool> gUnregistered{false};
std::atomic<int> gCalls{0};
std::atomic<int> gLateCalls{0};
void countingCallback(int, const char*, void*) {
  if (gUnregistered) ++gLateCalls;
  ++gCalls;
  std::this_thread::yield();
}

TEST_F(SimBackendTest, NoticeCallbackNotCalledAfterUnregistering) {
  startPeer();
  ASSERT_EQ(hidSetNoticeCallback(&countingCallback, nullptr), 1);
  // The registration reaches this peer once the previous test's connection has ended.
  ASSERT_TRUE(peer_->waitForClient(10s));
  std::thread flood([&] {
    for (int i = 0; i < 200; ++i) peer_->notice(i % 2 == 0, "flood");
  });
  const bool flowing = waitUntil([] { return gCalls >= 10; });
  ASSERT_EQ(hidSetNoticeCallback(nullptr, nullptr), 1);
  gUnregistered = true;
  flood.join();
  ASSERT_TRUE(flowing);
  // Once the barrier reaches a new registration, every flood notice has been handled.
  ASSERT_EQ(hidSetNoticeCallback(&NoticeLog::callback, &log_), 1);
  barrier("barrier-2");
  EXPECT_EQ(gLateCalls, 0);
}

}  // namespace
