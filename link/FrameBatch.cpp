#include "FrameBatch.h"

#include <algorithm>

namespace {
// Classification reads the first 16 bytes of any frame; a short one is zero behind its end.
constexpr size_t kClassifiedBytes = 16;
}  // namespace

FrameBatch::FrameBatch() : held_(kMaxFrames) { deliveries_.reserve(kMaxFrames * 4); }

void FrameBatch::Held::Take(const TransFrame& frame) {
  len = frame.len;
  arrivedUs = frame.arrivedUs;
  bytes.assign(frame.bytes, frame.bytes + std::max(frame.len, 0));
  if (bytes.size() < kClassifiedBytes) bytes.resize(kClassifiedBytes);  // zeros behind
  decoded.result.kind = frame.kind;
  if (frame.coord != nullptr) decoded.coord = *frame.coord;
  if (frame.data != nullptr) {
    decoded.data = *frame.data;
    if (frame.data->values != nullptr) {
      std::copy(frame.data->values, frame.data->values + FrameCodec::kValueCount, decoded.values);
      decoded.data.values = decoded.values;
    }
  }
}

void FrameBatch::Keep(const TransFrame& frame, bool report) {
  if (frames_ == held_.size()) held_.emplace_back();
  held_[frames_].Take(frame);
  held_[frames_].report = report;
  ++frames_;
}

void FrameBatch::Add(int slot, bool activeOnly) {
  if (frames_ > 0) deliveries_.push_back({frames_ - 1, slot, activeOnly});
}

TransFrame FrameBatch::Frame(size_t index) const {
  const Held& h = held_[index];
  return h.decoded.Frame(h.bytes.data(), h.len, h.arrivedUs);
}

void FrameBatch::Clear() {
  frames_ = 0;
  deliveries_.clear();
}
