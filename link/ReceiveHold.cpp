#include "ReceiveHold.h"

#include <algorithm>

namespace {
constexpr int64_t kLongestGapUs = 100'000;  // a pause counts no longer than this
}

void ReceiveHold::OnReport(int64_t arrivedUs) {
  ++taken_;
  const bool counts = lastUs_ > 0 && arrivedUs >= lastUs_;
  if (!counts) {
    // Unstamped, the first, or a stamp that went back: count from here anew.
    meanGapUs_ = -1;
    lastUs_ = std::max<int64_t>(arrivedUs, 0);
    return;
  }
  const int64_t gap = std::min(arrivedUs - lastUs_, kLongestGapUs);
  lastUs_ = arrivedUs;
  // Reports read together carry nearly one stamp; the mean over the last eight or so
  // tells the stream's rate however they were read.
  meanGapUs_ = meanGapUs_ < 0 ? gap : meanGapUs_ + (gap - meanGapUs_) / 8;
}

int ReceiveHold::HoldUs() {
  const bool steady = meanGapUs_ >= kBatchedGapUs && meanGapUs_ <= kSteadyGapUs;
  const bool hold = taken_ == 1 && steady;
  taken_ = 0;
  return hold ? kHoldUs : 0;
}
