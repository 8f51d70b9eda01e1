// vantrel touch: the touch performance tests, guided on the terminal or on a capture.
#pragma once

#include <string>

#include "cli/Commands.h"
#include "cli/TestRecord.h"

struct TouchOptions {
  std::string test;    // ghost, rate, jitter, linearity, accuracy, contacts, separation
  std::string limits;  // limits file; without one the defaults
  std::string junit, csv;
  std::string replay;  // a capture to score instead of a controller
  std::string truth;   // CSV of true positions (accuracy)
  RecordOptions rec;   // where a live run is kept, and its capture file
  double seconds = 0;  // 0: the test's own length
  double waitS = 30;   // longest wait for the first touch
  bool noNoise = false;  // ghost: no window with the noise raised
};

int RunTouch(const GlobalOptions& g, const TouchOptions& t);
