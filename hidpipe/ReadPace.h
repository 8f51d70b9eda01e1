// Paces the simulator socket's reads: a stream faster than a reader needs each report of
// at once is read in batches, so that one wake-up takes several reports.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hidpipe {

class ReadPace {
 public:
  // Reads in a row that each took reports at least this often (on average) make a stream
  // fast: 4000 reports/s and more. Streams of 1000 reports/s are never held back.
  static constexpr int64_t kFastReportUs = 250;
  static constexpr int kFastReads = 4;
  // How long the next read of a fast stream waits for more reports to gather.
  static constexpr int kHoldMs = 1;

  // A read at nowUs (microseconds of the steady clock) took this many reports. Returns how
  // long to hold back the next read, in ms (0: read as soon as bytes come).
  int afterRead(int64_t nowUs, size_t reports);
  void reset() { *this = ReadPace(); }

 private:
  int64_t lastReadUs_ = 0;  // of the last read that took reports
  int fastReads_ = 0;
};

}  // namespace hidpipe
