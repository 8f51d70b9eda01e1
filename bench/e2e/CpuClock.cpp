#include "CpuClock.h"

#include <pthread.h>

clockid_t CpuClock::CurrentThreadClock() {
  clockid_t id = CLOCK_THREAD_CPUTIME_ID;
  if (pthread_getcpuclockid(pthread_self(), &id) != 0) return CLOCK_THREAD_CPUTIME_ID;
  return id;
}

int64_t CpuClock::Read(clockid_t clock) {
  timespec ts{};
  if (clock_gettime(clock, &ts) != 0) return 0;
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

uint32_t CpuClock::MonotonicUs32() {
  return static_cast<uint32_t>(MonotonicNs() / 1000);
}
