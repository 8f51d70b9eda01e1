#include "FrameBatch.h"

#include <algorithm>
#include <cstring>

namespace {
// Classification reads the first 16 bytes of any frame; a short one is zero behind its end.
constexpr size_t kClassifiedBytes = 16;
}  // namespace

FrameBatch::FrameBatch() : held_(kMaxFrames) { deliveries_.reserve(kMaxFrames * 4); }

void FrameBatch::Held::Take(const TransFrame& frame) {
  len = frame.len;
  arrivedUs = frame.arrivedUs;
  kind = frame.kind;
  const size_t n = std::max(static_cast<size_t>(std::max(frame.len, 0)), kClassifiedBytes);
  bytes.assign(n, 0);
  if (frame.len > 0) std::memcpy(bytes.data(), frame.bytes, static_cast<size_t>(frame.len));
  hasData = frame.data != nullptr;
  if (hasData) {
    data = *frame.data;
    if (data.values != nullptr) {
      std::copy(frame.data->values, frame.data->values + FrameCodec::kValueCount, values);
      data.values = values;
    }
  }
  hasCoord = frame.coord != nullptr;
  if (hasCoord) coord = *frame.coord;
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
  TransFrame f = TransFrame::Raw(h.len, h.bytes.data());
  f.arrivedUs = h.arrivedUs;
  f.kind = h.kind;
  if (h.hasData) f.data = &h.data;
  if (h.hasCoord) f.coord = &h.coord;
  return f;
}

void FrameBatch::Clear() {
  frames_ = 0;
  deliveries_.clear();
}
