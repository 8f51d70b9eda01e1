// Frames read together, each with the listener slots it goes to, kept until the receive
// thread hands them over in one go: the user-interface thread then wakes once for all of
// them instead of once a frame. Each frame is a copy of the bytes and of what was decoded
// from them, so the receive thread may read on meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "DecodedFrame.h"
#include "TransFrame.h"

class FrameBatch {
 public:
  // A batch this full is handed over before the next frame is kept.
  static constexpr size_t kMaxFrames = 32;

  struct Delivery {
    size_t frame = 0;  // index of the kept frame
    int slot = 0;
    bool activeOnly = true;
  };

  FrameBatch();

  // Keeps a copy of the next frame read; report: the controller's records take what was
  // decoded from it.
  void Keep(const TransFrame& frame, bool report);
  // One delivery of the frame kept last.
  void Add(int slot, bool activeOnly);

  size_t Frames() const { return frames_; }
  bool Empty() const { return frames_ == 0; }
  bool Full() const { return frames_ >= kMaxFrames; }
  // A kept frame as listeners take it; valid until Clear.
  TransFrame Frame(size_t index) const;
  bool Report(size_t index) const { return held_[index].report; }
  const std::vector<Delivery>& Deliveries() const { return deliveries_; }
  void Clear();

 private:
  struct Held {
    int len = 0;
    int64_t arrivedUs = 0;
    bool report = false;
    DecodedFrame decoded;  // its records, copied from the frame's
    std::vector<uint8_t> bytes;

    void Take(const TransFrame& frame);
  };

  std::vector<Held> held_;  // kept across batches, so a steady stream allocates nothing
  size_t frames_ = 0;
  std::vector<Delivery> deliveries_;
};
