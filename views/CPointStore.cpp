#include "CPointStore.h"

void CPointStore::Clear() {
  count_ = 0;
  wrapped_ = false;
}

void CPointStore::Add(const TouchPoint& p) {
  ++count_;
  if (count_ > kSlots) {
    count_ = 1;
    wrapped_ = true;
  }
  slots_[count_] = p;
}
