// The progress of a noise sweep on standard error: redrawn on a terminal, a line per tenth
// otherwise. The time left is the mean time of this run's points times the points left.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

class SweepProgress {
 public:
  SweepProgress(size_t total, size_t done);
  void Point(size_t done, double hz);
  void End();
  // "1 h 02 min", "3 min 20 s", "12 s".
  static std::string Duration(double s);

 private:
  size_t total_, first_;
  bool tty_;
  size_t lastTenth_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};
