// A link that hands out prepared frames, as many as it was given leave to, and can wait
// for that leave like the USB link waits on the device. Writes are accepted and dropped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "link/CTransIFBase.h"

class FakeStreamLink : public CTransIFBase {
 public:
  // frames: handed out in turn, each at most 64 bytes (one input report).
  explicit FakeStreamLink(std::vector<std::vector<uint8_t>> frames);

  // Lets n more frames be read.
  void Allow(int64_t n);

  int Open(const void*) override;
  void Close() override;
  int32_t GetState() override { return state_.load(); }
  void SetState(int32_t s) override { state_.store(s); }
  int Read(uint8_t* buf) override;
  int Write(const uint8_t*, int len) override { return len; }
  bool WaitForInput(int ms) override;
  bool CanWaitForInput() const override { return true; }

 private:
  std::vector<std::vector<uint8_t>> frames_;
  size_t next_ = 0;
  std::atomic<int32_t> state_{kLinkClosed};
  std::atomic<int64_t> allowed_{0};
  std::mutex m_;
  std::condition_variable cv_;
};
