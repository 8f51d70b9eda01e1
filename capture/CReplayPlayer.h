// Plays a capture as a controller would: the device frames come out with their recorded
// timing (scaled by the speed, or as fast as they are taken), and a host command is
// answered with the reply the capture holds for it, or acknowledged negatively.
// Thread-safe: a user interface drives it while a link reads from it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "capture/CReplyIndex.h"
#include "capture/CaptureFormat.h"

namespace capture {

// The answer the capture's header gives to a version or panel information request
// (its "firmware" and "panel" lines); empty for other commands or when the header lacks it.
Bytes HeaderAnswer(const Header& header, const Bytes& command);

class CReplayPlayer {
 public:
  using Clock = std::function<int64_t()>;  // monotonic microseconds
  static constexpr double kAsFastAsPossible = 0;
  static constexpr size_t kMaxUnanswered = 256;

  // Starts paused at position 0. Without a clock, the steady clock.
  CReplayPlayer(Header header, std::vector<Frame> frames, Clock clock = {});

  const Header& GetHeader() const { return header_; }

  // ---- transport (any thread)
  void Play();  // at the end: from the start again
  void Pause();
  bool IsPlaying() const;
  // Factor of the recorded timing; kAsFastAsPossible (0) sends each frame once taken.
  void SetSpeed(double speed);
  double Speed() const;
  // Moves to a time; frames before it are not sent.
  void Seek(int64_t us);
  // Paused: sends the next device frame at once and stays paused after it.
  void Step();
  void SetLoop(bool on);
  int64_t Position() const;  // microseconds since the capture's start
  int64_t Duration() const;  // time of the last frame
  bool AtEnd() const;
  size_t DeviceFrameCount() const { return timeline_.size(); }
  size_t SentCount() const;  // timeline frames sent since the last seek to the start

  // ---- link side
  // Copies the next frame that is due (an answer to the host first) into buf (cap bytes);
  // its length, 0 when none is due.
  int Next(uint8_t* buf, int cap);
  // Waits up to ms for a frame to be due; true when one is.
  bool WaitForInput(int ms);
  // Microseconds until the next frame is due: 0 now, -1 when none is scheduled.
  int64_t UsUntilNext() const;
  // A frame the host wrote (frame bytes). Returns true when the capture answered it.
  bool HostFrame(const uint8_t* bytes, int len);

  // Commands the capture could not answer since the last call (negatively acknowledged).
  std::vector<Bytes> TakeUnanswered();
  uint64_t AnsweredCount() const;
  uint64_t UnansweredCount() const;

 private:
  struct Entry {
    size_t frameIndex;  // in frames_
    int64_t us;
  };
  int64_t PositionLocked() const;
  int64_t UsUntilNextLocked() const;
  void Rebase(int64_t pos);

  const Header header_;
  const std::vector<Frame> frames_;
  const CReplyIndex replies_;
  std::vector<Entry> timeline_;  // device frames that are not answers
  const Clock clock_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool playing_ = false;
  bool loop_ = false;
  bool stepPending_ = false;
  double speed_ = 1.0;
  int64_t anchorPos_ = 0;    // position at anchorClock_
  int64_t anchorClock_ = 0;  // clock reading when the position was anchorPos_
  size_t next_ = 0;          // next timeline entry
  size_t sent_ = 0;
  std::deque<Bytes> answers_;
  std::vector<Bytes> unanswered_;
  uint64_t answered_ = 0;
  uint64_t negative_ = 0;
};

}  // namespace capture
