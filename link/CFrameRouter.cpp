#include "CFrameRouter.h"

#include "ListenerSlots.h"

void CFrameRouter::Deliver(int slot, const TransFrame& frame, bool activeOnly) {
  const CListenerTable& table = core_.listeners;
  if (table.Pick(slot, activeOnly) == nullptr || !running_.load()) return;
  // The listener is looked up again on the receiving thread: it may have gone meanwhile.
  core_.Deliverer()->RunSync([&] {
    if (ITransListener* listener = table.Pick(slot, activeOnly)) listener->OnTransCallback(frame);
  });
}

void CFrameRouter::DeliverToXY(const TransFrame& frame) {
  Deliver(core_.listeners.XYSlot(), frame, true);
}

void CFrameRouter::DeliverControlReply(const TransFrame& frame) {
  if (frame.bytes[0] == 0xF5) {
    Deliver(kSlotDeviceText, frame, true);
  } else {
    Deliver(kSlotFrames, frame, true);
    Deliver(kSlotReplies, frame, true);
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
  DeliverToViews(frame, toXY);
}

// One hand-over per frame however many views are open: each one costs the UI thread a
// wake-up, and at 8000 frames a second those add up.
void CFrameRouter::DeliverToViews(const TransFrame& frame, bool toXY) {
  const CListenerTable& table = core_.listeners;
  const bool any = table.Pick(kSlotWave, true) != nullptr || table.Pick(kSlotViews, true) != nullptr ||
                   (toXY && table.Pick(table.XYSlot(), true) != nullptr);
  if (!any || !running_.load()) return;
  // Listeners are looked up again on the receiving thread, each just before its turn.
  core_.Deliverer()->RunSync([&] {
    if (ITransListener* listener = table.Pick(kSlotWave, true)) listener->OnTransCallback(frame);
    if (ITransListener* listener = table.Pick(kSlotViews, true)) listener->OnTransCallback(frame);
    if (!toXY) return;
    if (ITransListener* listener = table.Pick(table.XYSlot(), true)) listener->OnTransCallback(frame);
  });
}
