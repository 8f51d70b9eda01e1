#include "analysis/ScanAssembler.h"

#include <algorithm>

namespace analysis {

ScanAssembler::ScanAssembler(uint8_t dataCode, ScanLayout layout)
    : code_(dataCode), layout_(layout), scan_(static_cast<size_t>(layout.Size())) {
  count_[0] = layout.xCount;
  count_[1] = layout.yCount;
}

void ScanAssembler::Reset() {
  next_[0] = next_[1] = -1;
  aligned_ = orphan_ = false;
  complete_ = incomplete_ = ignored_ = 0;
}

void ScanAssembler::Abandon() {
  // A broken scan counts once, however many of its reports follow.
  if (InProgress() || (aligned_ && !orphan_)) ++incomplete_;
  next_[0] = next_[1] = -1;
  orphan_ = true;
}

bool ScanAssembler::Add(uint8_t code, uint8_t startX, uint8_t startY, uint8_t direction,
                        const int32_t* values, int count) {
  if (code != code_) {
    ++ignored_;
    return false;
  }
  if (direction > 1 || count <= 0) {
    Abandon();
    return false;
  }
  const int axis = direction == 1 ? 0 : 1;
  const int other = 1 - axis;
  const int start = axis == 0 ? startX : startY;
  if (count_[axis] == 0 || start + count > count_[axis]) {
    Abandon();  // an axis this stream does not cover, or past the axis's end
    return false;
  }
  if (start == 0) {
    // A new axis begins: a restart when this axis already began, a gap when the other
    // axis stopped short.
    if (next_[axis] >= 0 || (next_[other] >= 0 && next_[other] < count_[other])) {
      Abandon();
    }
    aligned_ = true;
    orphan_ = false;
    next_[axis] = 0;
  } else if (next_[axis] != start) {
    if (!orphan_) Abandon();
    return false;
  }
  const int offset = axis == 0 ? 0 : count_[0];
  std::copy(values, values + count, scan_.begin() + offset + start);
  next_[axis] = start + count;
  for (int a = 0; a < 2; ++a)
    if (count_[a] > 0 && next_[a] != count_[a]) return false;
  ++complete_;
  next_[0] = next_[1] = -1;
  return true;
}

}  // namespace analysis
