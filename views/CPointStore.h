// The program-wide ring of touch points shared by the XY Window and the full-screen window.
#pragma once

#include <array>
#include <cstdint>

struct TouchPoint {
  uint8_t status = 0;  // 0 no touch, 1 touching, 2 lifted (serial: 1 touching, 0 not)
  uint8_t finger = 0;  // 0 ... 9, selects the colour
  uint16_t x = 0;
  uint16_t y = 0;
  uint16_t z = 0;  // serial link only
};

class CPointStore {
 public:
  static constexpr int kSlots = 9999;  // usable slots 1 ... 9999

  void Clear();
  // Writes the point into the next slot; after slot 9999 the store wraps to slot 1.
  void Add(const TouchPoint& p);
  // Number of the slot written last (0 = empty).
  int Count() const { return count_; }
  bool Wrapped() const { return wrapped_; }
  // Number of points a replay visits.
  int Size() const { return wrapped_ ? kSlots : count_; }
  const TouchPoint& Slot(int slot) const { return slots_[slot]; }

  // Visits the stored points oldest first.
  template <typename Fn>
  void ForEach(Fn&& fn) const {
    if (wrapped_) {
      for (int i = count_ + 1; i <= kSlots; ++i) fn(slots_[i]);
    }
    for (int i = 1; i <= count_; ++i) fn(slots_[i]);
  }

 private:
  std::array<TouchPoint, kSlots + 1> slots_{};  // slot 0 unused
  int count_ = 0;
  bool wrapped_ = false;
};
