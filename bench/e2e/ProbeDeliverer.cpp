#include "ProbeDeliverer.h"

#include "CpuClock.h"

bool ProbeDeliverer::RunSync(const std::function<void()>& fn) {
  if (!known_.load(std::memory_order_relaxed)) {
    clock_.store(CpuClock::CurrentThreadClock());
    known_.store(true);
  }
  return inner_.RunSync(fn);
}
