// What the link tests on emulated nodes watch: frames as a window receives them, device
// notices as the shell hears them, and a wait on a condition.
#pragma once

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "EmulatedController.h"
#include "hidpipe/hidpipe.h"
#include "link/CTransCtrl.h"

using Clock = std::chrono::steady_clock;

template <class Pred>
bool WaitUntil(Pred pred, int ms = 10000) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (Clock::now() >= deadline) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline bool IsData(const Bytes& b) {
  return b.size() >= 8 && b[0] == 0x02 && b[1] == 0x4B;
}

inline bool Contains(const Bytes& b, const Bytes& part) {
  return std::search(b.begin(), b.end(), part.begin(), part.end()) != b.end();
}

// Frames as a window receives them.
class Receiver : public ITransListener {
 public:
  int OnTransCallback(const TransFrame& frame) override {
    const int len = frame.len;
    const uint8_t* bytes = frame.bytes;
    std::lock_guard lk(m_);
    frames_.emplace_back(bytes, bytes + len);
    return 0;
  }
  std::vector<Bytes> Frames() const {
    std::lock_guard lk(m_);
    return frames_;
  }
  size_t DataFrames(size_t from = 0) const {
    std::lock_guard lk(m_);
    size_t n = 0;
    for (size_t i = from; i < frames_.size(); ++i) n += IsData(frames_[i]);
    return n;
  }
  bool Has(const Bytes& prefix, size_t from = 0) const {
    std::lock_guard lk(m_);
    for (size_t i = from; i < frames_.size(); ++i)
      if (frames_[i].size() >= prefix.size() &&
          std::equal(prefix.begin(), prefix.end(), frames_[i].begin()))
        return true;
    return false;
  }

 private:
  mutable std::mutex m_;
  std::vector<Bytes> frames_;
};

// Device notices as the shell hears them.
class Notices {
 public:
  Notices() { registered_ = hidSetNoticeCallback(&Notices::Callback, this) != 0; }
  ~Notices() { hidSetNoticeCallback(nullptr, nullptr); }
  bool Registered() const { return registered_; }
  static void Callback(int event, const char* path, void* user) {
    auto* self = static_cast<Notices*>(user);
    std::lock_guard lk(self->m_);
    self->events_.emplace_back(event, path);
  }
  std::vector<std::string> Paths(int event) const {
    std::lock_guard lk(m_);
    std::vector<std::string> out;
    for (const auto& [e, p] : events_)
      if (e == event) out.push_back(p);
    return out;
  }

 private:
  bool registered_ = false;
  mutable std::mutex m_;
  std::vector<std::pair<int, std::string>> events_;
};

