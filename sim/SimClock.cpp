#include "sim/SimClock.h"

#include <time.h>

namespace tpcsim {

int64_t MonotonicClock::NowUs() const {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

}  // namespace tpcsim
