#include "FakeStreamLink.h"

#include <chrono>
#include <cstring>

FakeStreamLink::FakeStreamLink(std::vector<std::vector<uint8_t>> frames)
    : frames_(std::move(frames)) {}

void FakeStreamLink::Allow(int64_t n) {
  {
    std::lock_guard<std::mutex> lock(m_);
    allowed_.fetch_add(n);
  }
  cv_.notify_one();
}

int FakeStreamLink::Open(const void*) {
  state_.store(kLinkIdle);
  return 1;
}

void FakeStreamLink::Close() {
  state_.store(kLinkClosed);
  cv_.notify_all();
}

int FakeStreamLink::Read(uint8_t* buf) {
  if (frames_.empty() || allowed_.load(std::memory_order_acquire) <= 0) return 0;
  allowed_.fetch_sub(1, std::memory_order_acq_rel);
  const std::vector<uint8_t>& f = frames_[next_];
  next_ = next_ + 1 == frames_.size() ? 0 : next_ + 1;
  std::memcpy(buf, f.data(), f.size());
  return static_cast<int>(f.size());
}

bool FakeStreamLink::WaitForInput(int ms) {
  std::unique_lock<std::mutex> lock(m_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms),
                      [this] { return allowed_.load() > 0 || state_.load() == kLinkClosed; });
}
