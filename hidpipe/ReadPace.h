// Paces a reader thread (the simulator socket's, the hidraw drain thread): a stream faster
// than a reader needs each report of at once is read in batches, one wake-up for several.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hidpipe {

class ReadPace {
 public:
  // A read that took reports at least this often (on average since the read before) is
  // fast: 4000 reports/s and more.
  static constexpr int64_t kFastReportUs = 250;
  // Reads fast for this long in a row make a fast stream. A slow stream's catch-up burst
  // (reports a late sender sent back to back) does not last this long.
  static constexpr int64_t kFastForUs = 2000;
  // How long the next read of a fast stream waits for more reports to gather.
  static constexpr int kHoldMs = 1;

  // A read at nowUs (microseconds of the steady clock) took this many reports. Returns how
  // long to hold back the next read, in ms (0: read as soon as bytes come).
  int afterRead(int64_t nowUs, size_t reports);
  void reset() { *this = ReadPace(); }

 private:
  int64_t lastReadUs_ = 0;  // of the last read that took reports
  int64_t fastSinceUs_ = 0;  // the first read of the current run of fast reads
};

}  // namespace hidpipe
