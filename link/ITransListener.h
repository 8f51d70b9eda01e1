// A window (or test, or the command line) that takes delivered frames.
#pragma once

#include "TransFrame.h"

class ITransListener {
 public:
  virtual ~ITransListener() = default;
  // Runs on the user-interface thread through the deliverer; the frame is valid during
  // the call only.
  virtual int OnTransCallback(const TransFrame& frame) = 0;
};
