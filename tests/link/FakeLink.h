// A scripted link for driving CTransCtrl: frames to hand out, writes recorded, and a
// hold point that stops the receive thread inside Read so tests can look at a known state.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/CTransIFBase.h"

// Survives the link so a test can see when and on which thread it was closed and freed.
struct FakeLinkProbe {
  std::mutex mutex;
  std::condition_variable changed;
  bool closed = false;
  int closes = 0;
  bool destroyed = false;
  std::thread::id closedOn;
};

class FakeLink : public CTransIFBase {
 public:
  using Frame = std::vector<uint8_t>;

  explicit FakeLink(std::shared_ptr<FakeLinkProbe> probe = std::make_shared<FakeLinkProbe>())
      : probe_(std::move(probe)) {}
  ~FakeLink() override {
    std::lock_guard<std::mutex> lock(probe_->mutex);
    probe_->destroyed = true;
    probe_->changed.notify_all();
  }

  int openResult = 1;
  int writeResult = 0;  // 0: the frame length; otherwise this value
  const void* openSettings = nullptr;
  std::vector<uint16_t> vids, pids, osTypes;

  int Open(const void* settings) override {
    openSettings = settings;
    if (openResult == 1) state_ = kLinkIdle;
    return openResult;
  }
  void Close() override {
    state_ = kLinkClosed;
    std::lock_guard<std::mutex> lock(probe_->mutex);
    probe_->closed = true;
    ++probe_->closes;
    probe_->closedOn = std::this_thread::get_id();
    probe_->changed.notify_all();
  }
  int32_t GetState() override { return state_.load(); }
  void SetState(int32_t s) override { state_ = s; }
  int GetOSType() override { return 7; }
  void SetVendorIds(const uint16_t* v) override { vids.assign(v, v + 3); }
  void SetProductIds(const uint16_t* v) override { pids.assign(v, v + 3); }
  void SetOSTypes(const uint16_t* v) override { osTypes.assign(v, v + 3); }

  int Read(uint8_t* buf) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (frames_.empty()) {
      if (emptyReads_ == holdAtEmptyRead_) {
        ++holds_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return emptyReads_ != holdAtEmptyRead_ || !frames_.empty(); });
      }
    }
    if (frames_.empty()) {
      ++emptyReads_;
      if (drainedAt_ != taken_) drainedCall_ = calls_;
      drainedAt_ = taken_;
      ++calls_;
      changed_.notify_all();
      return 0;
    }
    Frame f = std::move(frames_.front());
    frames_.pop_front();
    ++taken_;
    std::copy(f.begin(), f.end(), buf);
    return static_cast<int>(f.size());
  }

  // wakeable: waits for frames as a device link does, without limit when asked, until
  // WakeWaiter.
  bool wakeable = false;
  bool CanWaitForInput() const override { return wakeable; }
  bool CanWaitUntilWoken() const override { return wakeable; }
  bool WaitForInput(int ms) override {
    std::unique_lock<std::mutex> lock(mutex_);
    ++calls_;
    changed_.notify_all();
    const auto ready = [this] { return woken_ || !frames_.empty(); };
    if (ms < 0) {
      ++unlimitedWaits_;
      changed_.notify_all();
      changed_.wait(lock, ready);
    } else {
      changed_.wait_for(lock, std::chrono::milliseconds(ms), ready);
    }
    woken_ = false;
    return !frames_.empty();
  }
  void WakeWaiter() override {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
    changed_.notify_all();
  }
  // Waits until the receive thread has begun n waits without limit in all.
  bool WaitUnlimitedWaits(int n) {
    return WaitFor([this, n] { return unlimitedWaits_ >= n; });
  }
  int UnlimitedWaits() {
    std::lock_guard<std::mutex> lock(mutex_);
    return unlimitedWaits_;
  }

  int Write(const uint8_t* data, int len) override {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.emplace_back(data, data + len);
    changed_.notify_all();
    return writeResult != 0 ? writeResult : len;
  }

  // Script side.
  void Push(Frame f) { Push(std::vector<Frame>{std::move(f)}); }
  // Frames that arrive together: the receive thread finds them all at its next read.
  void Push(std::vector<Frame> frames) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Frame& f : frames) frames_.push_back(std::move(f));
    pushed_ += static_cast<int>(frames.size());
    changed_.notify_all();
  }
  // The receive thread stops in Read when it is about to make empty read number n + 1
  // (n empty reads done); -1 releases it.
  void HoldAtEmptyRead(int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    holdAtEmptyRead_ = n;
    changed_.notify_all();
  }
  // Waits until the thread has stopped at a hold point n times in all.
  bool WaitHolds(int n) {
    return WaitFor([this, n] { return holds_ >= n; });
  }
  // Waits until the receive thread read every frame pushed, found the link empty, and came
  // back to it once more: what it read before is handed over by then.
  bool WaitDrained() {
    return WaitFor(
        [this] { return taken_ == pushed_ && drainedAt_ == pushed_ && calls_ > drainedCall_ + 1; });
  }
  bool WaitWrites(size_t n) {
    return WaitFor([this, n] { return writes_.size() >= n; });
  }
  bool WaitEmptyReads(int n) {
    return WaitFor([this, n] { return emptyReads_ >= n; });
  }
  // Waits for the receive thread to come back to Read: what it did before is finished.
  bool WaitNextPoll() { return WaitEmptyReads(EmptyReads() + 1); }
  std::vector<Frame> Writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }
  int EmptyReads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return emptyReads_;
  }

 private:
  bool WaitFor(const std::function<bool()>& done) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), done);
  }

  std::shared_ptr<FakeLinkProbe> probe_;
  std::atomic<int32_t> state_{kLinkClosed};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Frame> frames_;
  std::vector<Frame> writes_;
  int pushed_ = 0, taken_ = 0, drainedAt_ = 0, emptyReads_ = 0;
  int calls_ = 0, drainedCall_ = 0;  // empty reads and waits; the one that drained the link
  int holdAtEmptyRead_ = -1;
  int holds_ = 0;
  int unlimitedWaits_ = 0;
  bool woken_ = false;
};
