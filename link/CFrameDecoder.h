// Decodes each received frame once, where it arrives: the records listeners receive with
// the frame, and the firmware version. Written by the receive thread; the records are
// read during a delivery, which the hand-over orders after the writing.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "FrameCodec.h"
#include "TransFrame.h"
#include "TransTypes.h"

class CFrameDecoder {
 public:
  // Starts the next frame: nothing is decoded from it yet.
  void Begin() { kind_ = FrameCodec::Decoded::kNone; }
  // Decodes a report (data, short reply, single touch, raw dump). Only the record of the
  // decoded kind changes; the others keep the last one.
  FrameCodec::Result Decode(const uint8_t* frame, int len);
  // A version reply; false when it was too short to be one.
  bool TakeVersion(const uint8_t* frame, int len);

  // The frame as listeners take it, with what was decoded from it.
  TransFrame Frame(const uint8_t* bytes, int len, int64_t arrivedUs) const;

  const DataRecord& Data() const { return data_; }
  const CoordinateRecord& Coordinate() const { return coord_; }
  // The data report decoded from the frame being handled; null for any other frame.
  const DataRecord* DecodedData() const {
    return kind_ == FrameCodec::Decoded::kData ? &data_ : nullptr;
  }
  std::string Version() const;

 private:
  FrameCodec::Decoded kind_ = FrameCodec::Decoded::kNone;
  DataRecord data_;
  CoordinateRecord coord_;
  int32_t values_[FrameCodec::kValueCount] = {};
  mutable std::mutex versionMutex_;
  std::string version_;
};
