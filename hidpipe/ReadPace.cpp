#include "ReadPace.h"

namespace hidpipe {

int ReadPace::afterRead(int64_t nowUs, size_t reports) {
  if (reports == 0) return 0;  // notices and answers say nothing of the stream's rate
  const bool fast = lastReadUs_ != 0 && nowUs - lastReadUs_ < kFastReportUs * int64_t(reports);
  if (!fast) fastSinceUs_ = nowUs;
  lastReadUs_ = nowUs;
  return nowUs - fastSinceUs_ >= kFastForUs ? kHoldMs : 0;
}

}  // namespace hidpipe
