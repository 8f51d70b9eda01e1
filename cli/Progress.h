// A progress line on stderr (scans done, rate) while stderr is a terminal; nothing when
// it is piped or redirected.
#pragma once

#include <chrono>
#include <string>

class Progress {
 public:
  Progress(std::string label, long total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Update(long done);  // redraws at most ten times a second
  void Finish();           // ends the line

 private:
  void Draw(long done);

  std::string label_;
  long total_;
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_, last_;
};
