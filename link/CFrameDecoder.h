// The controller's account of what was decoded: the last records (for those who read
// them after the delivery, as the older accessors give them) and the firmware version.
// The records are written where the frames are handed over, each just before its
// deliveries, and read during a delivery.
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
  // Keeps the record the frame was decoded into; the records of other kinds stay.
  void Publish(const TransFrame& frame);
  // A version reply; false when it was too short to be one.
  bool TakeVersion(const uint8_t* frame, int len);

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
