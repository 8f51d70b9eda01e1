// The answers a capture holds: for each host command, the device frame recorded after
// it that answers it. Replays answer a host's command with it.
#pragma once

#include <cstddef>
#include <map>
#include <vector>

#include "capture/CaptureFormat.h"
#include "capture/FrameRules.h"

namespace capture {

class CReplyIndex {
 public:
  explicit CReplyIndex(const std::vector<Frame>& frames);

  // True for a device frame that answers a recorded command (replays send it only when
  // the host asks again).
  bool IsReply(size_t frameIndex) const { return isReply_[frameIndex]; }

  // The recorded answer to a command (a CommandKey), or null. Of several recordings of
  // the same command, the last one at or before frame `position` counts, else the first.
  const Bytes* Find(const Bytes& command, size_t position) const;

 private:
  struct Answer {
    size_t commandIndex;
    Bytes reply;
  };
  std::vector<bool> isReply_;
  std::map<Bytes, std::vector<Answer>> answers_;
};

}  // namespace capture
