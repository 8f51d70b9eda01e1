#include "CFrameDecoder.h"

#include "LinkTrace.h"

FrameCodec::Result CFrameDecoder::Decode(const uint8_t* frame, int len) {
  const FrameCodec::Result result =
      FrameCodec::DecodeReport(frame, len, ProcessClockMs(), data_, coord_, values_);
  kind_ = result.kind;
  return result;
}

bool CFrameDecoder::TakeVersion(const uint8_t* frame, int len) {
  std::lock_guard<std::mutex> lock(versionMutex_);
  return FrameCodec::ParseVersion(frame, len, version_);
}

std::string CFrameDecoder::Version() const {
  std::lock_guard<std::mutex> lock(versionMutex_);
  return version_;
}

TransFrame CFrameDecoder::Frame(const uint8_t* bytes, int len, int64_t arrivedUs) const {
  TransFrame f = TransFrame::Raw(len, bytes);
  f.arrivedUs = arrivedUs;
  f.kind = kind_;
  switch (kind_) {
    case FrameCodec::Decoded::kCoordinate:
      f.coord = &coord_;
      break;
    case FrameCodec::Decoded::kShortReply:
    case FrameCodec::Decoded::kData:
    case FrameCodec::Decoded::kRawDump:
      f.data = &data_;
      break;
    case FrameCodec::Decoded::kNone:
      break;
  }
  return f;
}
