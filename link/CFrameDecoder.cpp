#include "CFrameDecoder.h"

#include <algorithm>

void CFrameDecoder::Publish(const TransFrame& frame) {
  kind_ = frame.kind;
  if (frame.coord != nullptr) coord_ = *frame.coord;
  if (frame.data != nullptr) {
    data_ = *frame.data;
    if (frame.data->values != nullptr) {
      std::copy(frame.data->values, frame.data->values + frame.data->count, values_);
      data_.values = values_;
    }
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
