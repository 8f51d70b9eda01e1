#include "CSerialFrameAssembler.h"

#include <cstring>

#include "CommandString.h"

void CSerialFrameAssembler::SetRawCount(int count) {
  rawCount_ = count < 0 ? 0 : (count > kRawSize ? kRawSize : count);
}

void CSerialFrameAssembler::Reset() {
  rawCount_ = decodedCount_ = 0;
  inFrame_ = halfByte_ = overflow_ = false;
}

int CSerialFrameAssembler::Scan(uint8_t* out) {
  for (int i = 0; i < rawCount_; ++i) {
    uint8_t byte = raw_[i];
    if (!inFrame_) {
      if (byte == 0x02) {
        inFrame_ = true;
        decodedCount_ = 0;
        halfByte_ = overflow_ = false;
      }
      continue;
    }
    if (byte == 0x0D) {
      inFrame_ = false;
      if (overflow_) continue;  // oversized frame: dropped
      int rest = rawCount_ - (i + 1);
      std::memmove(raw_, raw_ + i + 1, static_cast<size_t>(rest));
      rawCount_ = rest;
      std::memcpy(out, decoded_, static_cast<size_t>(decodedCount_));
      return decodedCount_;
    }
    int value = CommandString::HexValue(static_cast<char>(byte));
    if (value < 0 || overflow_) continue;
    if (!halfByte_) {
      if (decodedCount_ >= kDecodedSize) {
        overflow_ = true;
        continue;
      }
      decoded_[decodedCount_] = static_cast<uint8_t>(value * 16);
      halfByte_ = true;
    } else {
      decoded_[decodedCount_++] += static_cast<uint8_t>(value);
      halfByte_ = false;
    }
  }
  rawCount_ = 0;
  return 0;
}
