// The answers a capture holds: for each host command, the device frames recorded after it
// that answer it. Replays answer a host's command with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "capture/CaptureFormat.h"
#include "capture/FrameRules.h"

namespace capture {

// Commands still waiting for their answer while a capture is read in order.
class OpenCommands {
 public:
  static constexpr size_t kMax = 64;

  void Clear() { open_.clear(); }
  void Host(const uint8_t* frame, int len, int64_t us);
  // True when the device frame answers a command before it; that command is then closed
  // and handed out.
  bool Answers(const uint8_t* frame, int len, Bytes* command = nullptr, int64_t* commandUs = nullptr);

 private:
  struct Open {
    int64_t us;
    Bytes key;
  };
  std::vector<Open> open_;  // oldest first
};

class CReplyIndex {
 public:
  // Recordings kept; an answer equal to the one before it for the same command is not
  // kept again.
  static constexpr size_t kMaxAnswers = 1u << 16;

  void Add(const Bytes& command, int64_t commandUs, const uint8_t* reply, int len);
  // The recorded answer to a command (a CommandKey), or null. Of several recordings of
  // the same command, the last one made at or before `us` counts, else the first.
  const Bytes* Find(const Bytes& command, int64_t us) const;
  size_t Size() const { return count_; }

 private:
  struct Answer {
    int64_t commandUs;
    Bytes reply;
  };
  std::map<Bytes, std::vector<Answer>> answers_;
  size_t count_ = 0;
};

}  // namespace capture
