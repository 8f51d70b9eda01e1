#include "sim/ReplaySource.h"

#include <limits>

namespace tpcsim {

ReplaySource::ReplaySource(const SimClock& clock, std::shared_ptr<capture::CaptureReader> reader,
                           double speed, bool loop)
    : clock_(clock), player_(std::move(reader), [&clock] { return clock.NowUs(); }) {
  player_.SetSpeed(speed);
  player_.SetLoop(loop);
}

std::vector<OutFrame> ReplaySource::HandleHostFrame(std::span<const uint8_t> frame) {
  if (!started_) {
    started_ = true;
    player_.Play();
  }
  player_.HostFrame(frame.data(), static_cast<int>(frame.size()));
  return Poll(std::numeric_limits<size_t>::max());
}

std::vector<OutFrame> ReplaySource::Poll(size_t maxFrames) {
  std::vector<OutFrame> out;
  uint8_t buf[4096];
  while (out.size() < maxFrames) {
    const int n = player_.Next(buf, sizeof buf);
    if (n <= 0) break;
    out.push_back(OutFrame{Bytes(buf, buf + n), false});
  }
  return out;
}

int64_t ReplaySource::NextWakeUs() const {
  const int64_t until = player_.UsUntilNext();
  return until < 0 ? std::numeric_limits<int64_t>::max() : clock_.NowUs() + until;
}

void ReplaySource::Restart() {
  started_ = false;
  player_.Pause();
  player_.Seek(0);
}

}  // namespace tpcsim
