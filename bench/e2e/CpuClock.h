// CPU time of threads and of the process, in nanoseconds.
#pragma once

#include <time.h>

#include <cstdint>

class CpuClock {
 public:
  // The CPU clock of the calling thread (pthread_getcpuclockid of pthread_self).
  static clockid_t CurrentThreadClock();
  static int64_t Read(clockid_t clock);
  static int64_t ProcessNs() { return Read(CLOCK_PROCESS_CPUTIME_ID); }
  static int64_t MonotonicNs() { return Read(CLOCK_MONOTONIC); }
  // Low 32 bits of CLOCK_MONOTONIC in microseconds (tpcsim's send stamp).
  static uint32_t MonotonicUs32();
};
