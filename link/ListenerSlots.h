// The listener slots of the transfer controller and how a listener takes frames.
#pragma once

#include <cstdint>

// Which frames reach a slot (see CFrameRouter).
enum TransSlot : uint16_t {
  kSlotXY = 1,          // touch reports and the coordinate data codes (XY Window)
  kSlotXYStandIn = 2,   // the same while kSlotXY is not active (full-screen map)
  kSlotWave = 3,        // every routed frame (Wave Window)
  kSlotViews = 4,       // every routed frame (statistics of the full-screen map)
  kSlotFrames = 5,      // every frame but touch reports, device text and dropped replies
  kSlotDeviceText = 6,  // device text (0xF5) and its control replies
  kSlotReplies = 7,     // short frames whatever the mode; control replies when active
};

// How a listener holds its slot.
enum ListenerMode : int {
  kListenerOff = 0,      // the slot is free
  kListenerPassive = 1,  // holds the slot, takes short frames only (kSlotReplies)
  kListenerActive = 2,   // takes every frame routed to the slot
};
