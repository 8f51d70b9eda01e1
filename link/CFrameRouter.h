// Hands a received frame to the listener slots it belongs to, through the deliverer
// (receive thread).
#pragma once

#include <atomic>

#include "TransCore.h"
#include "TransFrame.h"

class CFrameRouter {
 public:
  // Nothing is delivered once running is false (the session was stopped).
  CFrameRouter(TransCore& core, const std::atomic<bool>& running)
      : core_(core), running_(running) {}

  void Deliver(int slot, const TransFrame& frame, bool activeOnly);
  // Touch reports of the 0x88 kind: the XY Window, or what stands in for it.
  void DeliverToXY(const TransFrame& frame);
  // Version and panel information replies.
  void DeliverControlReply(const TransFrame& frame);
  // The Wave Window and the views, and the XY Window for touch reports and the coordinate
  // data codes.
  void RouteToViews(const TransFrame& frame, int linkType);

 private:
  // One hand-over for all the views of a frame.
  void DeliverToViews(const TransFrame& frame, bool toXY);

  TransCore& core_;
  const std::atomic<bool>& running_;
};
