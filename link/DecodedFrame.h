// What one received frame was decoded into, where it arrived (receive thread). Listeners
// get it with the frame.
#pragma once

#include <cstdint>

#include "FrameCodec.h"
#include "TransFrame.h"
#include "TransTypes.h"

struct DecodedFrame {
  FrameCodec::Result result;
  DataRecord data;  // values point into `values`
  CoordinateRecord coord;
  int32_t values[FrameCodec::kValueCount] = {};

  // Decodes a report (data, short reply, single touch, raw dump); nothing else is.
  void Decode(const uint8_t* frame, int len, uint32_t nowMs);
  void Clear() { result = {}; }
  // The frame as listeners take it, with what was decoded from it.
  TransFrame Frame(const uint8_t* bytes, int len, int64_t arrivedUs) const;
};
