// Holds the receive thread back a moment between the reports of a steady stream: what
// came meanwhile is taken when the hold ends, instead of the link's reader waking the
// thread for every report (at 1000 reports a second a wake-up each is most of what our
// path costs beyond a loop that reads every 10 ms). Only reports the link stamped
// on arrival are held (the link's own thread read them and kept their time), so a hold
// changes no report's time, only when a listener sees it.
#pragma once

#include <cstdint>

class ReceiveHold {
 public:
  // Reports that come on average at least this closely make a steady stream (500 a
  // second and more); slower ones are handed on as they come.
  static constexpr int64_t kSteadyGapUs = 2000;
  // Streams of 4000 reports a second and more come in batches already: the link's reader
  // holds them itself, and a hold here would only add to that one.
  static constexpr int64_t kBatchedGapUs = 250;
  // How long a hold lasts: well under the time a window takes to show a frame.
  static constexpr int kHoldUs = 1000;

  // A report was taken; arrivedUs is the link's stamp of it (0: the link keeps none).
  void OnReport(int64_t arrivedUs);
  // Before the receive thread waits for the next report: how long to hold back first,
  // in microseconds. Only after a wait that brought one report, so a stream that ends is
  // never waited on in holds.
  int HoldUs();

 private:
  int64_t lastUs_ = 0;  // the stamp of the last report taken (0: none to count from)
  int64_t meanGapUs_ = -1;  // a running mean of the gaps between reports (-1: none yet)
  int taken_ = 0;  // reports taken since the last HoldUs
};
