// The controller's account of what was decoded: the last records (for those who read
// them after the delivery, as the seed's accessors give them) and the firmware version.
// Written by the receive thread; the records are read during a delivery, which the
// hand-over orders after the writing.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "DecodedFrame.h"
#include "FrameCodec.h"
#include "TransTypes.h"

class CFrameDecoder {
 public:
  // Starts the next frame: nothing is decoded from it yet.
  void Begin() { kind_ = FrameCodec::Decoded::kNone; }
  // Keeps the record the frame was decoded into; the records of other kinds stay.
  void Publish(const DecodedFrame& frame);
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
