// The simulator's one event loop: ppoll() on the watched descriptors, woken for the
// controllers' next scheduled output (absolute times, no busy spinning).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "sim/SimClock.h"

namespace tpcsim {

class SimLoop {
 public:
  using FdHandler = std::function<void(short revents)>;

  struct TimerSource {
    std::function<int64_t()> nextWakeUs;  // absolute, clock microseconds
    std::function<void()> service;        // called every loop pass
  };

  explicit SimLoop(const SimClock& clock) : clock_(clock) {}

  void Watch(int fd, short events, FdHandler handler);
  void SetEvents(int fd, short events);
  void Unwatch(int fd);
  void AddTimerSource(TimerSource source) { timers_.push_back(std::move(source)); }

  // Runs until Stop() or a stop signal (SIGINT/SIGTERM, blocked and read through a
  // signalfd). Returns false when the loop could not be set up.
  bool Run();
  void Stop() { stop_ = true; }

 private:
  struct Watched {
    short events;
    FdHandler handler;
  };
  const SimClock& clock_;
  std::map<int, Watched> watched_;
  std::vector<TimerSource> timers_;
  bool stop_ = false;
};

}  // namespace tpcsim
