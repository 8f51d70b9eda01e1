#include "ReportQueue.h"

#include <chrono>
#include <cstring>

namespace hidpipe {

ReportQueue::ReportQueue(size_t capacity)
    : slots_(capacity == 0 ? 1 : capacity), received_(slots_.size(), 0), arrived_(slots_.size(), 0) {}

bool ReportQueue::push(const uint8_t* report, int roomWaitMs, size_t received, int64_t arrivedUs) {
  if (arrivedUs == 0) arrivedUs = NowUs();
  std::unique_lock lk(m_);
  if (closed_) return true;
  if (count_ == slots_.size() && roomWaitMs > 0) {
    notFull_.wait_for(lk, std::chrono::milliseconds(roomWaitMs),
                      [&] { return count_ < slots_.size() || closed_; });
  }
  if (closed_) return true;
  bool kept = true;
  if (count_ == slots_.size()) {
    head_ = (head_ + 1) % slots_.size();
    --count_;
    ++dropped_;
    kept = false;
  }
  const size_t tail = (head_ + count_) % slots_.size();
  std::memcpy(slots_[tail].data(), report, sizeof(Report));
  received_[tail] = static_cast<uint8_t>(received < sizeof(Report) ? received : sizeof(Report));
  arrived_[tail] = arrivedUs;
  ++count_;
  lk.unlock();
  notEmpty_.notify_one();
  return kept;
}

int64_t ReportQueue::NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int ReportQueue::pop(uint8_t* out, int timeoutMs, size_t* received, int64_t* arrivedUs) {
  std::unique_lock lk(m_);
  auto ready = [&] { return count_ > 0 || closed_ || interrupted_ || woken_; };
  if (timeoutMs < 0)
    notEmpty_.wait(lk, ready);
  else if (timeoutMs > 0)
    notEmpty_.wait_for(lk, std::chrono::milliseconds(timeoutMs), ready);
  if (count_ == 0) {
    if (timeoutMs != 0) woken_ = false;
    return closed_ ? -1 : 0;
  }
  std::memcpy(out, slots_[head_].data(), sizeof(Report));
  if (received != nullptr) *received = received_[head_];
  if (arrivedUs != nullptr) *arrivedUs = arrived_[head_];
  head_ = (head_ + 1) % slots_.size();
  --count_;
  lk.unlock();
  notFull_.notify_one();
  return 1;
}

void ReportQueue::wake() {
  {
    std::lock_guard lk(m_);
    woken_ = true;
  }
  notEmpty_.notify_all();
}

void ReportQueue::interrupt() {
  {
    std::lock_guard lk(m_);
    interrupted_ = true;
  }
  notEmpty_.notify_all();
}

void ReportQueue::clearInterrupt() {
  std::lock_guard lk(m_);
  interrupted_ = false;
}

void ReportQueue::close() {
  {
    std::lock_guard lk(m_);
    closed_ = true;
  }
  notEmpty_.notify_all();
  notFull_.notify_all();
}

void ReportQueue::reset() {
  {
    std::lock_guard lk(m_);
    head_ = 0;
    count_ = 0;
    dropped_ = 0;
    closed_ = false;
    woken_ = false;
  }
  notFull_.notify_all();
}

uint64_t ReportQueue::dropped() const {
  std::lock_guard lk(m_);
  return dropped_;
}

size_t ReportQueue::size() const {
  std::lock_guard lk(m_);
  return count_;
}

}  // namespace hidpipe
