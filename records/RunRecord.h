// One run of a production test as it is kept: the unit, where and when it was tested,
// with what, the verdict, and every measured value with its limits and verdict.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace records {

// One measured value. A self test gives one per electrode and figure; a touch test one
// per stroke or contact and figure.
struct Measurement {
  std::string group;  // stream or test: "m0-raw", "panel", "jitter"
  std::string item;   // electrode or stroke: "X5", "stroke 2"; "" for the whole unit
  std::string check;  // "mean", "p2p", "stddev", "open/short", "x_count", "version"
  std::optional<double> value;
  std::string text;  // the value as shown when it is not a number
  std::string unit;  // "counts", "mm", "Hz"; "" for none
  std::optional<double> low, high;  // inclusive limits
  std::string limitText;            // a limit that is no range ("matches \"TPC 1.*\"")
  bool pass = true;
};

struct RunRecord {
  std::string uuid;  // unique key of the run everywhere it is stored
  std::string kind = "test";  // "test" (self test), "touch" or "noise" (noise sweep)
  std::string serial;
  std::string station;
  std::string operatorName;
  std::string startedUtc;  // "2026-12-08T13:21:49.123Z"
  std::string toolVersion;
  std::string firmwareVersion;
  // The device measured: "/dev/hidraw3 USB 227D:0102 interface 1 port 1-2 serial SN-A"
  // ("" for runs kept before it was recorded, and for replays).
  std::string device;
  int xCount = 0, yCount = 0, resolution = 0, xRange = 0, yRange = 0;
  std::string limitsName;
  std::string limitsSha256;
  std::string verdict;  // "pass", "fail" or "error" (could not finish)
  std::string note;     // why a run could not finish
  double durationS = 0;
  std::string capturePath;
  std::string captureSha256;
  std::vector<Measurement> values;
  bool pending = false;  // kept locally, not yet on the server it was meant for
  std::string setAsideReason;  // pending, and refused by the server for its content: why
};

// "2026-12-08T13:21:49.123Z" of now.
std::string UtcNow();
// A random (version 4) UUID in its usual text form.
std::string NewUuid();

}  // namespace records
