// The transfer controller hands the recorder every frame written and read, a command
// always ahead of its reply, even when the reply is read while the write is still going.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "link/CTransCtrl.h"

namespace {

using Frame = std::vector<uint8_t>;

// Answers every write at once and lets the write return only after the receive thread
// has read the answer (a fast device on a slow write path).
class EchoLink : public CTransIFBase {
 public:
  int Open(const void*) override {
    state_ = kLinkIdle;
    return 1;
  }
  void Close() override { state_ = kLinkClosed; }
  int32_t GetState() override { return state_.load(); }
  void SetState(int32_t s) override { state_ = s; }
  int Read(uint8_t* buf) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (replies_.empty()) return 0;
    const Frame f = replies_.front();
    replies_.pop_front();
    std::copy(f.begin(), f.end(), buf);
    taken_.notify_all();
    return static_cast<int>(f.size());
  }
  int Write(const uint8_t* data, int len) override {
    std::unique_lock<std::mutex> lock(mutex_);
    replies_.push_back({0x02, data[1], 0x02, data[3], 0x01});
    taken_.wait_for(lock, std::chrono::seconds(2), [this] { return replies_.empty(); });
    return len;
  }

 private:
  std::atomic<int32_t> state_{kLinkClosed};
  std::mutex mutex_;
  std::condition_variable taken_;
  std::deque<Frame> replies_;
};

struct Recorded {
  bool toDevice;
  int64_t us;
  Frame bytes;
};

class ListRecorder : public IFrameRecorder {
 public:
  void OnLinkFrame(int, bool toDevice, int64_t us, const uint8_t* b, int len) override {
    std::lock_guard<std::mutex> lock(mutex);
    frames.push_back({toDevice, us, Frame(b, b + len)});
  }
  std::mutex mutex;
  std::vector<Recorded> frames;
};

}  // namespace

TEST(TransCtrlRecording, EveryCommandIsRecordedAheadOfItsReply) {
  auto recorder = std::make_shared<ListRecorder>();
  CTransCtrl ctrl;
  ctrl.SetLinkFactory([](int) { return std::make_unique<EchoLink>(); });
  ctrl.SetRecorder(recorder);
  ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);  // four commands go out on opening
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(recorder->mutex);
      if (recorder->frames.size() >= 8) break;
    }
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ctrl.Close();
  ctrl.SetRecorder(nullptr);
  std::lock_guard<std::mutex> lock(recorder->mutex);
  ASSERT_EQ(recorder->frames.size(), 8u);
  for (size_t i = 0; i < 8; i += 2) {
    const Recorded& cmd = recorder->frames[i];
    const Recorded& reply = recorder->frames[i + 1];
    EXPECT_TRUE(cmd.toDevice) << i;
    EXPECT_FALSE(reply.toDevice) << i;
    EXPECT_EQ(reply.bytes[3], cmd.bytes[3]);
    EXPECT_LE(cmd.us, reply.us);
  }
}
