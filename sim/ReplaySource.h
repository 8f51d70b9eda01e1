// A capture served as the controller: host commands are answered from it, its device
// frames go out with their recorded timing from the first host frame on.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "capture/CReplayPlayer.h"
#include "sim/OutFrame.h"
#include "sim/SimClock.h"

namespace tpcsim {

class ReplaySource {
 public:
  ReplaySource(const SimClock& clock, std::shared_ptr<capture::CaptureReader> reader, double speed,
               bool loop);

  std::vector<OutFrame> HandleHostFrame(std::span<const uint8_t> frame);
  std::vector<OutFrame> Poll(size_t maxFrames);
  int64_t NextWakeUs() const;
  // The device restarts: the capture starts over with the next host frame.
  void Restart();
  const capture::CReplayPlayer& Player() const { return player_; }

 private:
  const SimClock& clock_;
  capture::CReplayPlayer player_;
  bool started_ = false;
};

}  // namespace tpcsim
