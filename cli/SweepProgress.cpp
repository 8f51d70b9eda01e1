#include "cli/SweepProgress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "analysis/NoiseSweep.h"

SweepProgress::SweepProgress(size_t total, size_t done)
    : total_(total), first_(done), tty_(::isatty(2) == 1) {}

void SweepProgress::Point(size_t done, double hz) {
  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const size_t measured = done - first_;
  const double left = measured ? secs / measured * static_cast<double>(total_ - done) : 0;
  char line[160];
  std::snprintf(line, sizeof line, "noise sweep: %zu/%zu points, %s, %s left", done, total_,
                analysis::FrequencyText(hz).c_str(), Duration(left).c_str());
  if (tty_) {
    std::fprintf(stderr, "\r%s\033[K", line);
  } else if (done * 10 / total_ != lastTenth_ || done == total_ || measured == 1) {
    lastTenth_ = done * 10 / total_;
    std::fprintf(stderr, "%s\n", line);
  }
  std::fflush(stderr);
}

void SweepProgress::End() {
  if (tty_) std::fputc('\n', stderr);
}

std::string SweepProgress::Duration(double s) {
  char b[32];
  if (s >= 3600)
    std::snprintf(b, sizeof b, "%d h %02d min", int(s / 3600), int(std::fmod(s, 3600) / 60));
  else if (s >= 60)
    std::snprintf(b, sizeof b, "%d min %02d s", int(s / 60), int(std::fmod(s, 60)));
  else
    std::snprintf(b, sizeof b, "%.0f s", s);
  return b;
}
