#include "cli/Progress.h"

#include <unistd.h>

#include <cstdio>

Progress::Progress(std::string label, long total)
    : label_(std::move(label)),
      total_(total > 0 ? total : 1),
      enabled_(::isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

Progress::~Progress() {
  Finish();
}

void Progress::Update(long done) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - last_ < std::chrono::milliseconds(100) && done < total_) return;
  last_ = now;
  Draw(done);
}

void Progress::Draw(long done) {
  constexpr int kWidth = 30;
  const double secs = std::chrono::duration<double>(last_ - start_).count();
  const int filled = static_cast<int>(kWidth * (done > total_ ? total_ : done) / total_);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(kWidth, '.');
  std::fprintf(stderr, "\r%s [%s] %ld/%ld scans", label_.c_str(), bar.c_str(), done, total_);
  if (secs > 0.2) std::fprintf(stderr, ", %.0f scans/s", static_cast<double>(done) / secs);
  std::fprintf(stderr, "\033[K");
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Finish() {
  if (!enabled_ || !drawn_) return;
  std::fputc('\n', stderr);
  drawn_ = false;
  enabled_ = false;
}
