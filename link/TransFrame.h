// One received frame as listeners take it: decoded once, where it arrived.
#pragma once

#include <cstdint>

#include "FrameCodec.h"
#include "TransTypes.h"

// Everything it points to is valid during the delivery only.
struct TransFrame {
  int len = 0;
  const uint8_t* bytes = nullptr;
  // When the link read it from the device (steady clock, microseconds).
  int64_t arrivedUs = 0;
  FrameCodec::Decoded kind = FrameCodec::Decoded::kNone;
  const DataRecord* data = nullptr;         // short reply, data report or raw dump
  const CoordinateRecord* coord = nullptr;  // single-touch report

  // The data report decoded from this frame; null for any other frame.
  const DataRecord* DataReport() const {
    return kind == FrameCodec::Decoded::kData ? data : nullptr;
  }
  // A frame nothing was decoded from (tools and tests that hand in bytes).
  static TransFrame Raw(int len, const uint8_t* bytes) {
    TransFrame f;
    f.len = len;
    f.bytes = bytes;
    return f;
  }
};
