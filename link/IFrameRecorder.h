// Takes a copy of every frame a link writes and reads (session recording).
#pragma once

#include <chrono>
#include <cstdint>

class IFrameRecorder {
 public:
  virtual ~IFrameRecorder() = default;
  // A frame as handed to the link's Write (toDevice; just before the write, so a failed
  // write is recorded too) or returned by its Read, with the time it was written or read
  // (RecorderClockUs). Called on the user-interface thread
  // and on the receive thread; must return quickly and never wait for either.
  virtual void OnLinkFrame(int linkType, bool toDevice, int64_t timeUs, const uint8_t* bytes,
                           int len) = 0;
};

// The recorder's clock: steady microseconds.
inline int64_t RecorderClockUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
