// Reassembles STX / hex text / CR packets arriving in pieces on the serial line.
#pragma once

#include <functional>
#include <string_view>

#include "sim/SimHex.h"

namespace tpcsim {

class SerialFrameDecoder {
 public:
  static constexpr size_t kMaxFrame = 4096;

  // Feeds raw bytes; calls `onFrame` for every completed packet. Bytes outside a
  // packet and non-hex characters inside one are skipped; a packet that grows past
  // kMaxFrame is dropped whole (counted) rather than cut.
  void Feed(std::string_view raw, const std::function<void(const Bytes&)>& onFrame);

  size_t Dropped() const { return dropped_; }

 private:
  bool inFrame_ = false;
  bool overflow_ = false;
  int high_ = -1;
  Bytes frame_;
  size_t dropped_ = 0;
};

}  // namespace tpcsim
