#include "CFrameDecoder.h"

#include <algorithm>

void CFrameDecoder::Publish(const DecodedFrame& frame) {
  kind_ = frame.result.kind;
  switch (kind_) {
    case FrameCodec::Decoded::kCoordinate:
      coord_ = frame.coord;
      break;
    case FrameCodec::Decoded::kShortReply:
    case FrameCodec::Decoded::kData:
    case FrameCodec::Decoded::kRawDump:
      data_ = frame.data;
      if (frame.data.values != nullptr) {
        std::copy(frame.values, frame.values + frame.data.count, values_);
        data_.values = values_;
      }
      break;
    case FrameCodec::Decoded::kNone:
      break;
  }
}

bool CFrameDecoder::TakeVersion(const uint8_t* frame, int len) {
  std::lock_guard<std::mutex> lock(versionMutex_);
  return FrameCodec::ParseVersion(frame, len, version_);
}

std::string CFrameDecoder::Version() const {
  std::lock_guard<std::mutex> lock(versionMutex_);
  return version_;
}
