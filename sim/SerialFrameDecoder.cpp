#include "sim/SerialFrameDecoder.h"

namespace tpcsim {

void SerialFrameDecoder::Feed(std::string_view raw,
                              const std::function<void(const Bytes&)>& onFrame) {
  for (char c : raw) {
    if (c == '\x02') {
      // A new STX restarts the packet; an unfinished one is lost.
      if (inFrame_ && !frame_.empty()) ++dropped_;
      inFrame_ = true;
      overflow_ = false;
      high_ = -1;
      frame_.clear();
      continue;
    }
    if (!inFrame_) continue;
    if (c == '\r') {
      inFrame_ = false;
      if (overflow_) {
        ++dropped_;
      } else if (!frame_.empty()) {
        onFrame(frame_);
      }
      frame_.clear();
      continue;
    }
    int v = HexDigit(c);
    if (v < 0 || overflow_) continue;
    if (high_ < 0) {
      high_ = v;
    } else {
      if (frame_.size() >= kMaxFrame) {
        overflow_ = true;
        frame_.clear();
      } else {
        frame_.push_back(static_cast<uint8_t>(high_ * 16 + v));
      }
      high_ = -1;
    }
  }
}

}  // namespace tpcsim
