// Plays a capture as a controller would: the device frames come out with their recorded
// timing (scaled by the speed, or as fast as they are taken), and a host command is
// answered with the reply the capture holds for it, or acknowledged negatively.
// Frames are read from the capture as they are due (CaptureReader): memory does not grow
// with the file. Thread-safe: a user interface drives it while a link reads from it.
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
#include "capture/CaptureReader.h"

namespace capture {

// The answer the capture's header gives to a version or panel information request
// (its "firmware" and "panel" lines); empty for other commands or when the header lacks it.
Bytes HeaderAnswer(const Header& header, const Bytes& command);

class CReplayPlayer {
 public:
  using Clock = std::function<int64_t()>;  // monotonic microseconds
  static constexpr double kAsFastAsPossible = 0;
  static constexpr size_t kMaxUnanswered = 256;
  // How far before a seek point commands are looked for whose answers come after it (the
  // slowest answer, calibration's, takes about 2 s).
  static constexpr int64_t kAnswerLookBackUs = 3'000'000;

  // Starts paused at position 0. Without a clock, the steady clock.
  explicit CReplayPlayer(std::shared_ptr<CaptureReader> reader, Clock clock = {});
  // Frames in memory (they must hold at least one; std::invalid_argument otherwise).
  CReplayPlayer(const Header& header, const std::vector<Frame>& frames, Clock clock = {});

  const Header& GetHeader() const { return reader_->GetHeader(); }
  const CaptureReader& Reader() const { return *reader_; }

  // ---- transport (any thread)
  void Play();  // at the end: from the start again
  void Pause();
  bool IsPlaying() const;
  // Factor of the recorded timing; kAsFastAsPossible (0) sends each frame once taken.
  void SetSpeed(double speed);
  double Speed() const;
  // Moves to a time; frames before it are not sent. While the capture is being indexed, a
  // time past what the index reaches moves to the last place it knows.
  void Seek(int64_t us);
  // Paused: sends the next device frame at once and stays paused after it.
  void Step();
  void SetLoop(bool on);
  int64_t Position() const;  // microseconds since the capture's start
  int64_t Duration() const;  // time of the last frame (indexed so far)
  bool AtEnd() const;
  // Device frames that are not answers (counted so far while indexing).
  size_t DeviceFrameCount() const;
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
  int64_t PositionLocked() const;
  int64_t UsUntilNextLocked() const;
  void Rebase(int64_t pos);
  // Reads on to the next device frame that is not an answer, at or after playFrom. A seek
  // reads from seekedTo, before the point it moves to, to learn the commands still open
  // there; a cursor that could not reach seekedTo (the index is not there yet) plays from
  // where it is.
  void Advance(int64_t playFrom = INT64_MIN, int64_t seekedTo = INT64_MIN);
  void SeekLocked(int64_t us);

  const std::shared_ptr<CaptureReader> reader_;
  const Clock clock_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool playing_ = false;
  bool loop_ = false;
  bool stepPending_ = false;
  double speed_ = 1.0;
  int64_t anchorPos_ = 0;    // position at anchorClock_
  int64_t anchorClock_ = 0;  // clock reading when the position was anchorPos_
  std::unique_ptr<CaptureCursor> cursor_;
  OpenCommands open_;  // commands read by the cursor, to tell answers from the timeline
  Frame next_;         // the next device frame to send, when haveNext_
  bool haveNext_ = false;
  size_t sent_ = 0;
  std::deque<Bytes> answers_;
  std::vector<Bytes> unanswered_;
  uint64_t answered_ = 0;
  uint64_t negative_ = 0;
};

}  // namespace capture
