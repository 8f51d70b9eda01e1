#include "capture/CReplayPlayer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace capture {

namespace {
int64_t SteadyUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
std::shared_ptr<CaptureReader> InMemory(const Header& header, const std::vector<Frame>& frames) {
  std::string text = HeaderText(header);
  for (const Frame& f : frames) {
    AppendFrameLine(text, f.us, f.dir, f.bytes.data(), static_cast<int>(f.bytes.size()));
  }
  std::string error;
  auto reader = CaptureReader::FromText(std::move(text), error);
  if (!reader) throw std::invalid_argument("no capture to replay: " + error);
  return reader;
}

void PutU16(Bytes& f, size_t at, unsigned v) {
  f[at] = static_cast<uint8_t>(v & 0xFF);
  f[at + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

}  // namespace

// A capture started mid-session holds no version or panel information reply: the header
// noted both when the recording began.
Bytes HeaderAnswer(const Header& h, const Bytes& command) {
  if (command.size() != 5 || command[0] != 0x02 || command[1] != 0x4C || command[2] != 0x02)
    return {};
  if (command[3] == 0x04 && !h.firmware.empty()) {
    const size_t n = std::min<size_t>(h.firmware.size(), 60);
    Bytes f{0x02, 0x4C, static_cast<uint8_t>(n + 1), 0x04};
    f.insert(f.end(), h.firmware.begin(), h.firmware.begin() + static_cast<ptrdiff_t>(n));
    return f;
  }
  unsigned x = 0, y = 0, res = 0, xr = 0, yr = 0;
  if (command[3] == 0x06 &&
      std::sscanf(h.panel.c_str(), "x=%u y=%u resolution=%u xrange=%u yrange=%u", &x, &y, &res, &xr,
                  &yr) == 5 &&
      x > 0 && x < 256 && y > 0 && y < 256) {
    Bytes f(17, 0);
    f[0] = 0x02;
    f[1] = 0x4C;
    f[2] = 14;
    f[3] = 0x06;
    f[4] = static_cast<uint8_t>(x);
    f[5] = static_cast<uint8_t>(y);
    PutU16(f, 6, res);
    PutU16(f, 9, xr);
    PutU16(f, 11, yr);
    return f;
  }
  return {};
}

CReplayPlayer::CReplayPlayer(std::shared_ptr<CaptureReader> reader, Clock clock)
    : reader_(std::move(reader)),
      clock_(clock ? std::move(clock) : Clock(SteadyUs)),
      cursor_(reader_->NewCursor()) {
  Advance();
  anchorClock_ = clock_();
}

CReplayPlayer::CReplayPlayer(const Header& header, const std::vector<Frame>& frames, Clock clock)
    : CReplayPlayer(InMemory(header, frames), std::move(clock)) {}

void CReplayPlayer::Advance(int64_t playFrom, int64_t seekedTo) {
  haveNext_ = false;
  bool first = true;
  while (cursor_->Next(next_)) {
    if (first && next_.us < seekedTo) playFrom = INT64_MIN;
    first = false;
    const int len = static_cast<int>(next_.bytes.size());
    if (next_.dir == Direction::kHostToDevice) {
      open_.Host(next_.bytes.data(), len, next_.us);
    } else if (!open_.Answers(next_.bytes.data(), len) && next_.us >= playFrom) {
      haveNext_ = true;
      return;
    }
  }
}

void CReplayPlayer::SeekLocked(int64_t us) {
  const int64_t from = us > kAnswerLookBackUs ? us - kAnswerLookBackUs : 0;
  cursor_->Seek(from);
  open_.Clear();
  Advance(us, from);
  if (us == 0) sent_ = 0;
  stepPending_ = false;
  Rebase(haveNext_ ? std::min(us, next_.us) : us);
}

int64_t CReplayPlayer::PositionLocked() const {
  if (!playing_ || speed_ <= 0) return anchorPos_;
  // Saturates at the end: never past the last frame, whatever the clock says.
  const double moved = static_cast<double>(clock_() - anchorClock_) * speed_;
  const int64_t end = Duration();
  if (moved >= static_cast<double>(end - anchorPos_)) return std::max(end, anchorPos_);
  return anchorPos_ + static_cast<int64_t>(std::max(moved, 0.0));
}

void CReplayPlayer::Rebase(int64_t pos) {
  anchorPos_ = pos;
  anchorClock_ = clock_();
}

void CReplayPlayer::Play() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!haveNext_) {
    SeekLocked(0);
  } else {
    Rebase(anchorPos_);
  }
  playing_ = true;
  changed_.notify_all();
}

void CReplayPlayer::Pause() {
  std::lock_guard<std::mutex> lock(mutex_);
  Rebase(PositionLocked());
  playing_ = false;
  changed_.notify_all();
}

bool CReplayPlayer::IsPlaying() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return playing_;
}

void CReplayPlayer::SetSpeed(double speed) {
  std::lock_guard<std::mutex> lock(mutex_);
  Rebase(PositionLocked());
  speed_ = speed > 0 ? speed : kAsFastAsPossible;
  changed_.notify_all();
}

double CReplayPlayer::Speed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return speed_;
}

void CReplayPlayer::Seek(int64_t us) {
  std::lock_guard<std::mutex> lock(mutex_);
  SeekLocked(std::clamp<int64_t>(us, 0, Duration()));
  changed_.notify_all();
}

void CReplayPlayer::Step() {
  std::lock_guard<std::mutex> lock(mutex_);
  Rebase(PositionLocked());
  playing_ = false;
  stepPending_ = haveNext_;
  changed_.notify_all();
}

void CReplayPlayer::SetLoop(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  loop_ = on;
}

int64_t CReplayPlayer::Position() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return PositionLocked();
}

int64_t CReplayPlayer::Duration() const {
  return reader_->DurationUs();
}

bool CReplayPlayer::AtEnd() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !haveNext_;
}

size_t CReplayPlayer::DeviceFrameCount() const {
  return static_cast<size_t>(reader_->GetProgress().deviceFrames);
}

size_t CReplayPlayer::SentCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_;
}

int64_t CReplayPlayer::UsUntilNextLocked() const {
  if (!answers_.empty() || stepPending_) return 0;
  if (!playing_ || !haveNext_) return -1;
  if (speed_ <= 0) return 0;
  const int64_t ahead = next_.us - PositionLocked();
  return ahead <= 0 ? 0 : static_cast<int64_t>(static_cast<double>(ahead) / speed_) + 1;
}

int64_t CReplayPlayer::UsUntilNext() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return UsUntilNextLocked();
}

int CReplayPlayer::Next(uint8_t* buf, int cap) {
  std::lock_guard<std::mutex> lock(mutex_);
  Bytes out;
  if (!answers_.empty()) {
    out = std::move(answers_.front());
    answers_.pop_front();
  } else if (UsUntilNextLocked() == 0 && haveNext_) {
    out.swap(next_.bytes);
    const int64_t us = next_.us;
    ++sent_;
    // Without timing (as fast as possible, a step) the position follows the frames.
    if (speed_ <= 0 || stepPending_ || !playing_) Rebase(us);
    stepPending_ = false;
    Advance();
    if (!haveNext_ && playing_) {
      if (loop_) {
        SeekLocked(0);
      } else {
        Rebase(std::max(us, Duration()));
        playing_ = false;
      }
    }
  } else {
    return 0;
  }
  const int len = std::min(cap, static_cast<int>(out.size()));
  std::memcpy(buf, out.data(), static_cast<size_t>(len));
  return len;
}

bool CReplayPlayer::WaitForInput(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const int64_t until = UsUntilNextLocked();
    if (until == 0) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    auto wait = deadline - now;
    if (until > 0)
      wait = std::min<std::chrono::steady_clock::duration>(wait, std::chrono::microseconds(until));
    changed_.wait_for(lock, wait);
  }
}

bool CReplayPlayer::HostFrame(const uint8_t* bytes, int len) {
  const Bytes key = CommandKey(bytes, len);
  if (key.empty()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const int64_t at = haveNext_ ? next_.us : std::numeric_limits<int64_t>::max();
  Bytes reply;
  if (reader_->FindReply(key, at, reply) ||
      !(reply = HeaderAnswer(reader_->GetHeader(), key)).empty()) {
    answers_.push_back(std::move(reply));
    ++answered_;
    changed_.notify_all();
    return true;
  }
  Bytes nak = NegativeAck(key);
  if (!nak.empty()) answers_.push_back(std::move(nak));
  ++negative_;
  if (unanswered_.size() < kMaxUnanswered) unanswered_.push_back(key);
  changed_.notify_all();
  return false;
}

std::vector<Bytes> CReplayPlayer::TakeUnanswered() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Bytes> out;
  out.swap(unanswered_);
  return out;
}

uint64_t CReplayPlayer::AnsweredCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return answered_;
}

uint64_t CReplayPlayer::UnansweredCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return negative_;
}

}  // namespace capture
