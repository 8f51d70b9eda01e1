// Assembles complete scans of one data stream from its data reports. Each report carries
// a start index, a direction (1 = X axis, 0 = Y axis) and a run of values; a scan is
// complete when every electrode of its layout arrived: the X row from index 0 upwards with
// no gap, then the Y row the same way (a stream of one axis has only that row). A scan with a gap,
// a restart or a report that runs past the axis is counted as incomplete and dropped: values of two
// scans are never mixed.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "analysis/DataStreams.h"
#include "link/TransTypes.h"

namespace analysis {

class ScanAssembler {
 public:
  ScanAssembler(uint8_t dataCode, ScanLayout layout);

  // One data report. Reports of another data code are ignored. True when this report
  // completed a scan; Scan() holds it until the next call.
  bool Add(uint8_t code, uint8_t startX, uint8_t startY, uint8_t direction, const int32_t* values,
           int count);
  // The transfer controller's record of the frame being delivered: records of replies
  // (no values) and of other groups are ignored, so every delivery may be passed in.
  bool Add(const DataRecord& r) {
    if (r.group != 0x4B || r.values == nullptr || r.count == 0) {
      ++ignored_;
      return false;
    }
    return Add(r.code, r.startX, r.startY, r.direction, r.values, r.count);
  }

  std::span<const int32_t> Scan() const { return scan_; }
  const ScanLayout& Layout() const { return layout_; }
  uint64_t Complete() const { return complete_; }
  uint64_t Incomplete() const { return incomplete_; }
  uint64_t Ignored() const { return ignored_; }  // other data codes, no values, no reports

  // Forgets the scan in progress and the counts (a new stream starts).
  void Reset();

 private:
  void Abandon();
  bool InProgress() const { return axis_ >= 0; }

  uint8_t code_;
  ScanLayout layout_;
  std::vector<int32_t> scan_;
  int count_[2];          // electrodes per axis: 0 = X, 1 = Y
  int first_ = 0;         // the axis a scan begins with
  int axis_ = -1;         // axis being filled, -1 = no scan in progress
  int next_ = 0;          // next expected index on it
  bool aligned_ = false;  // a scan start was seen since Reset
  bool orphan_ = false;   // reports of a broken scan are being skipped
  uint64_t complete_ = 0;
  uint64_t incomplete_ = 0;
  uint64_t ignored_ = 0;
};

}  // namespace analysis
