#include "DecodedFrame.h"

void DecodedFrame::Decode(const uint8_t* frame, int len, uint32_t nowMs) {
  result = FrameCodec::DecodeReport(frame, len, nowMs, data, coord, values);
}

TransFrame DecodedFrame::Frame(const uint8_t* bytes, int len, int64_t arrivedUs) const {
  TransFrame f = TransFrame::Raw(len, bytes);
  f.arrivedUs = arrivedUs;
  f.kind = result.kind;
  switch (result.kind) {
    case FrameCodec::Decoded::kCoordinate:
      f.coord = &coord;
      break;
    case FrameCodec::Decoded::kShortReply:
    case FrameCodec::Decoded::kData:
    case FrameCodec::Decoded::kRawDump:
      f.data = &data;
      break;
    case FrameCodec::Decoded::kNone:
      break;
  }
  return f;
}
