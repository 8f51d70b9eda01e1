#include "analysis/ScanAssembler.h"

#include <algorithm>

namespace analysis {

ScanAssembler::ScanAssembler(uint8_t dataCode, ScanLayout layout)
    : code_(dataCode), layout_(layout), scan_(static_cast<size_t>(layout.Size())) {
  count_[0] = layout.xCount;
  count_[1] = layout.yCount;
  first_ = count_[0] > 0 ? 0 : 1;
}

void ScanAssembler::Reset() {
  axis_ = -1;
  aligned_ = orphan_ = false;
  complete_ = incomplete_ = ignored_ = 0;
}

void ScanAssembler::Abandon() {
  // A broken scan counts once, however many of its reports follow. Reports before the
  // first scan start (listening began mid-scan) do not count.
  if (InProgress() || (aligned_ && !orphan_)) ++incomplete_;
  axis_ = -1;
  orphan_ = true;
}

bool ScanAssembler::Add(uint8_t code, uint8_t startX, uint8_t startY, uint8_t direction,
                        const int32_t* values, int count) {
  if (code != code_ || count == 0) {
    ++ignored_;
    return false;
  }
  const int axis = direction == 1 ? 0 : 1;
  const int start = axis == 0 ? startX : startY;
  if (direction > 1 || count < 0 || count_[axis] == 0 || start + count > count_[axis]) {
    Abandon();  // an axis this stream does not cover, or past the axis's end
    return false;
  }
  if (start == 0 && axis == first_) {
    if (InProgress()) Abandon();  // a restart
    aligned_ = true;
    orphan_ = false;
  } else if (start == 0) {
    // The Y row follows a complete X row only.
    if (axis_ != first_ || next_ != count_[first_]) {
      Abandon();
      return false;
    }
  } else if (axis_ != axis || next_ != start) {
    if (!orphan_) Abandon();  // a gap
    return false;
  }
  const int offset = axis == 0 ? 0 : count_[0];
  std::copy(values, values + count, scan_.begin() + offset + start);
  axis_ = axis;
  next_ = start + count;
  const bool last = axis == 1 || count_[1] == 0;
  if (!last || next_ != count_[axis]) return false;
  ++complete_;
  axis_ = -1;
  return true;
}

}  // namespace analysis
