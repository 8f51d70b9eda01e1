#include "CSerialFrameAssembler.h"

#include <array>
#include <cstring>

namespace {

// Byte classes: 0-15 a hexadecimal digit's value, kCr the frame end, kOther skipped.
constexpr uint8_t kCr = 0x10;
constexpr uint8_t kOther = 0x20;
constexpr uint8_t kStx = 0x02;

constexpr std::array<uint8_t, 256> MakeClasses() {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) {
    if (c >= '0' && c <= '9') {
      t[c] = static_cast<uint8_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      t[c] = static_cast<uint8_t>(c - 'A' + 10);
    } else if (c >= 'a' && c <= 'f') {
      t[c] = static_cast<uint8_t>(c - 'a' + 10);
    } else {
      t[c] = kOther;
    }
  }
  t[0x0D] = kCr;
  return t;
}

constexpr std::array<uint8_t, 256> kClass = MakeClasses();

}  // namespace

void CSerialFrameAssembler::SetRawCount(int count) {
  rawCount_ = count < 0 ? 0 : (count > kRawSize ? kRawSize : count);
  rawPos_ = 0;
}

void CSerialFrameAssembler::Reset() {
  rawCount_ = rawPos_ = decodedCount_ = 0;
  inFrame_ = halfByte_ = overflow_ = false;
  high_ = 0;
}

int CSerialFrameAssembler::Scan(uint8_t* out) {
  // The state lives in locals for the loop: stores into the byte buffers could
  // otherwise alias the members and force a reload per byte.
  const uint8_t* p = raw_ + rawPos_;
  const uint8_t* const end = raw_ + rawCount_;
  uint8_t* const dec = decoded_;
  int count = decodedCount_;
  bool inFrame = inFrame_;
  bool half = halfByte_;
  bool overflow = overflow_;
  uint8_t high = high_;
  int result = -1;

  while (p < end) {
    if (!inFrame) {
      const void* stx = std::memchr(p, kStx, static_cast<size_t>(end - p));
      if (stx == nullptr) {
        p = end;
        break;
      }
      p = static_cast<const uint8_t*>(stx) + 1;
      inFrame = true;
      count = 0;
      half = overflow = false;
      continue;
    }
    if (overflow) {
      // An oversized frame is dropped: skip to its CR.
      const void* cr = std::memchr(p, 0x0D, static_cast<size_t>(end - p));
      if (cr == nullptr) {
        p = end;
        break;
      }
      p = static_cast<const uint8_t*>(cr) + 1;
      inFrame = false;
      continue;
    }
    // Whole pairs of digits, the common case.
    if (!half) {
      while (end - p >= 2 && count < kDecodedSize) {
        const uint8_t h = kClass[p[0]];
        const uint8_t l = kClass[p[1]];
        if ((h | l) >= 16) break;
        dec[count++] = static_cast<uint8_t>((h << 4) | l);
        p += 2;
      }
      if (p == end) break;
    }
    const uint8_t c = kClass[*p++];
    if (c < 16) {
      if (half) {
        dec[count++] = static_cast<uint8_t>(high + c);
        half = false;
      } else if (count >= kDecodedSize) {
        overflow = true;
      } else {
        high = static_cast<uint8_t>(c << 4);
        half = true;
      }
    } else if (c == kCr) {
      inFrame = false;
      std::memcpy(out, dec, static_cast<size_t>(count));
      result = count;
      break;
    }
  }

  rawPos_ = static_cast<int>(p - raw_);
  if (rawPos_ >= rawCount_) rawPos_ = rawCount_ = 0;
  decodedCount_ = count;
  inFrame_ = inFrame;
  halfByte_ = half;
  overflow_ = overflow;
  high_ = high;
  return result < 0 ? 0 : result;
}
