// Hands received frames to the listener slots they belong to, through the deliverer
// (receive thread). The frames read together go over in one hand-over: each frame and its
// deliveries are kept in order until Flush.
#pragma once

#include <atomic>

#include "FrameBatch.h"
#include "TransCore.h"
#include "TransFrame.h"

class CFrameRouter {
 public:
  // Nothing is delivered once running is false (the session was stopped).
  CFrameRouter(TransCore& core, const std::atomic<bool>& running)
      : core_(core), running_(running) {}

  // The next frame read, before its deliveries (a full batch is handed over first);
  // report: the controller's records take what was decoded from it.
  void NextFrame(const TransFrame& frame, bool report);
  // Deliveries of that frame.
  void Deliver(int slot, bool activeOnly);
  // Touch reports of the 0x88 kind: the XY Window, or what stands in for it.
  void DeliverToXY();
  // Version and panel information replies.
  void DeliverControlReply(const TransFrame& frame);
  // The Wave Window and the views, and the XY Window for touch reports and the coordinate
  // data codes.
  void RouteToViews(const TransFrame& frame, int linkType);
  // Hands every kept frame over in one go, in the order they were read: before the
  // receive thread waits, sends, or hands anything else over.
  void Flush();

 private:
  // On the deliverer's thread: each frame's record goes to the controller just before its
  // deliveries, so a listener that reads the controller's records finds its own frame's.
  void HandOver();

  TransCore& core_;
  const std::atomic<bool>& running_;
  FrameBatch batch_;
};
