// Time source of the virtual controller, in microseconds.
#pragma once

#include <cstdint>

namespace tpcsim {

class SimClock {
 public:
  virtual ~SimClock() = default;
  virtual int64_t NowUs() const = 0;
};

// CLOCK_MONOTONIC, absolute (so stream time stamps match the host's clock).
class MonotonicClock : public SimClock {
 public:
  int64_t NowUs() const override;
};

// A clock that moves only when told to (tests).
class SteppedClock : public SimClock {
 public:
  explicit SteppedClock(int64_t startUs = 1'000'000) : now_(startUs) {}
  int64_t NowUs() const override { return now_; }
  void AdvanceMs(int64_t ms) { now_ += ms * 1000; }
  void AdvanceUs(int64_t us) { now_ += us; }
  void SetUs(int64_t us) { now_ = us; }

 private:
  int64_t now_;
};

}  // namespace tpcsim
