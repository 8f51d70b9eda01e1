#include "CFrameRouter.h"

#include "ListenerSlots.h"

void CFrameRouter::NextFrame(const TransFrame& frame, bool report) {
  if (batch_.Full()) Flush();
  batch_.Keep(frame, report);
}

void CFrameRouter::Deliver(int slot, bool activeOnly) {
  if (core_.listeners.Pick(slot, activeOnly) == nullptr || !running_.load()) return;
  batch_.Add(slot, activeOnly);
}

void CFrameRouter::DeliverToXY() { Deliver(core_.listeners.XYSlot(), true); }

void CFrameRouter::DeliverControlReply(const TransFrame& frame) {
  if (frame.bytes[0] == 0xF5) {
    Deliver(kSlotDeviceText, true);
  } else {
    Deliver(kSlotFrames, true);
    Deliver(kSlotReplies, true);
  }
}

void CFrameRouter::RouteToViews(const TransFrame& frame, int linkType) {
  const uint8_t* f = frame.bytes;
  bool toXY = false;
  if (linkType == kLinkCom) {
    toXY = f[0] == 0x01 || (f[3] >= 8 && f[3] <= 29);
  } else if (linkType == kLinkUsb) {
    static constexpr uint8_t kXYCodes[] = {0x03, 0x08, 0x09, 0x25, 0x26, 0x2D, 0x2E};
    toXY = f[1] == 0x4D;
    for (uint8_t code : kXYCodes) toXY = toXY || f[3] == code;
  }
  Deliver(kSlotWave, true);
  Deliver(kSlotViews, true);
  if (toXY) DeliverToXY();
}

// One hand-over however many frames and views: each costs the user-interface thread a
// wake-up, and at 1000 frames a second and more those add up.
void CFrameRouter::Flush() {
  if (batch_.Empty()) return;
  if (!running_.load()) {
    // A thread left behind by Close touches nothing shared.
  } else if (batch_.Deliveries().empty()) {
    HandOver();  // only the records to keep: no need to wake anyone
  } else {
    core_.Deliverer()->RunSync([this] { HandOver(); });
  }
  batch_.Clear();
}

void CFrameRouter::HandOver() {
  const auto& deliveries = batch_.Deliveries();
  size_t next = 0;
  for (size_t i = 0; i < batch_.Frames(); ++i) {
    const TransFrame frame = batch_.Frame(i);
    core_.decoder.Begin();
    if (batch_.Report(i)) core_.decoder.Publish(frame);
    // Listeners are looked up again here, each just before its turn: one may have gone.
    for (; next < deliveries.size() && deliveries[next].frame == i; ++next) {
      const FrameBatch::Delivery& d = deliveries[next];
      if (ITransListener* listener = core_.listeners.Pick(d.slot, d.activeOnly)) {
        listener->OnTransCallback(frame);
      }
    }
  }
}
