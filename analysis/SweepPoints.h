// The measured points of a sweep with each point's verdict, kept in an unnamed temporary
// file as they come and read back in order as often as the closing outputs need: memory
// does not grow with the number of points. Values are kept exactly as measured.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "analysis/NoiseSweep.h"

namespace analysis {

class SweepPoints {
 public:
  SweepPoints() = default;
  ~SweepPoints();
  SweepPoints(const SweepPoints&) = delete;
  SweepPoints& operator=(const SweepPoints&) = delete;

  // Makes the file (in the temporary folder). False with the reason.
  bool Open(std::string& why);
  // False with the reason when the point could not be written.
  bool Add(const NoisePoint& p, bool pass, std::string& why);
  size_t Size() const { return size_; }
  size_t Failed() const { return failed_; }
  // Each point in order with its verdict (the point is reused between calls; passes may
  // nest). False when the file could not be read back.
  bool ForEach(const std::function<void(const NoisePoint&, bool pass)>& fn) const;

 private:
  std::FILE* file_ = nullptr;
  size_t size_ = 0, failed_ = 0;
};

}  // namespace analysis
