#include "ReadPace.h"

namespace hidpipe {

int ReadPace::afterRead(int64_t nowUs, size_t reports) {
  if (reports == 0) return 0;  // notices and answers say nothing of the stream's rate
  const bool fast = lastReadUs_ != 0 && nowUs - lastReadUs_ < kFastReportUs * int64_t(reports);
  lastReadUs_ = nowUs;
  fastReads_ = fast ? fastReads_ + 1 : 0;
  return fastReads_ >= kFastReads ? kHoldMs : 0;
}

}  // namespace hidpipe
