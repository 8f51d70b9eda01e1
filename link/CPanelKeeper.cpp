#include "CPanelKeeper.h"

PanelGeometry CPanelKeeper::Geometry() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return geometry_;
}

PanelInfo CPanelKeeper::InForce() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return geometry_.InForce();
}

void CPanelKeeper::SetConfigured(int xCount, int yCount, int resolution) {
  std::lock_guard<std::mutex> lock(mutex_);
  geometry_.configured = {xCount, yCount, resolution, 0, 0};
  geometry_.reportedInForce = false;
}

FrameCodec::PanelResult CPanelKeeper::TakeReply(const uint8_t* frame, int len) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The short form leaves the ranges as they were reported before.
  PanelInfo info = geometry_.InForce();
  const FrameCodec::PanelResult result = FrameCodec::ParsePanelInfo(frame, len, info);
  switch (result) {
    case FrameCodec::PanelResult::kValid:
      geometry_.reported = info;
      geometry_.reportedInForce = true;
      break;
    case FrameCodec::PanelResult::kEmptySilent:
    case FrameCodec::PanelResult::kEmptyReported:
      geometry_.reportedInForce = false;
      break;
    case FrameCodec::PanelResult::kBadLength:
      break;
  }
  return result;
}
