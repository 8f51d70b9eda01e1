#include "CCsvLog.h"

#include <chrono>

bool CCsvLog::Exists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}

bool CCsvLog::Open(const std::string& path, bool truncate) {
  Close();
  file_ = std::fopen(path.c_str(), truncate ? "wb" : "ab");
  if (file_ == nullptr) return false;
  std::fseek(file_, 0, SEEK_END);
  path_ = path;
  return true;
}

void CCsvLog::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

bool CCsvLog::WriteLine(const std::string& text) {
  if (file_ == nullptr) return false;
  const std::string line = text + "\r\n";
  const bool ok = std::fwrite(line.data(), 1, line.size(), file_) == line.size();
  return std::fflush(file_) == 0 && ok;
}

std::string CCsvLog::FormatTime(long long ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04lld.%03lld", ms / 1000, ms % 1000);
  return buf;
}

long long CCsvLog::ProcessClockMs() {
  using Clock = std::chrono::steady_clock;
  static const Clock::time_point start = Clock::now();
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}
