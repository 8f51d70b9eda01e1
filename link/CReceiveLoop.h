// The receive thread's work: reads frames from the link, decodes each once, hands it to
// the listener slots, and sends queued commands while the link is quiet.
#pragma once

#include <cstdint>

#include "CFrameRouter.h"
#include "ReceiveHold.h"
#include "ReceiveSession.h"
#include "TransCore.h"

class CReceiveLoop {
 public:
  CReceiveLoop(TransCore& core, ReceiveSession& session)
      : c_(core), s_(session), router_(core, session.running) {}

  // Runs until the session is stopped, then ends the session (closing its link when
  // Close left that to the thread).
  void Run();

 private:
  // One frame from the link (0: none), recorded with its arrival time.
  int Read(int64_t& arrivedUs);
  // Returns true when the frame counts as received data (resets the quiet count).
  bool HandleFrame(int len, int64_t arrivedUs);
  // Decodes the frame when it is a report; false when it is none.
  bool DecodeReport(int len);
  // A reply with status 1 ends the busy state (the controller's records take the frame's
  // where it is handed over).
  void TakeReplyStatus();
  void TakeVersion(int len);
  void TakePanelInfo(int len);
  void Pause(int ms);
  // True when the link can wait on the device without limit and nothing is queued to send.
  bool WaitsUntilWoken() const;
  // Sleeps a moment while a steady stream comes in; true when it did.
  bool Holds();
  void WaitUntilWoken();
  void ReportLinkLost();
  void Finish();

  TransCore& c_;
  ReceiveSession& s_;
  CFrameRouter router_;
  ReceiveHold hold_;
  bool justHeld_ = false;  // the last empty read ended a hold
};
