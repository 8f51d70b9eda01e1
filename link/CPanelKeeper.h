// The one owner of the panel's geometry (held by the transfer controller). Any thread.
#pragma once

#include <cstdint>
#include <mutex>

#include "FrameCodec.h"
#include "PanelGeometry.h"

class CPanelKeeper {
 public:
  PanelGeometry Geometry() const;
  PanelInfo InForce() const;
  // The configured counts and resolution (settings file, settings dialog); they are in
  // force from now on, until the controller reports its panel.
  void SetConfigured(int xCount, int yCount, int resolution);
  // Takes a panel information reply: valid, it is the reported geometry in force; empty,
  // the configured one is in force again; of another length, nothing changes.
  FrameCodec::PanelResult TakeReply(const uint8_t* frame, int len);

 private:
  mutable std::mutex mutex_;
  PanelGeometry geometry_;
};
