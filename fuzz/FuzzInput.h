// Reads a fuzz input piece by piece: small numbers that steer a target, then bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  size_t Left() const { return size_ - pos_; }

  // One byte, 0 once the input ran out.
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // Two bytes, little-endian.
  uint16_t Word() {
    uint16_t lo = Byte();
    return static_cast<uint16_t>(lo | (Byte() << 8));
  }
  // Up to n bytes (fewer when the input runs out).
  std::span<const uint8_t> Take(size_t n) {
    if (n > Left()) n = Left();
    std::span<const uint8_t> out(data_ + pos_, n);
    pos_ += n;
    return out;
  }
  std::span<const uint8_t> Rest() { return Take(Left()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};
