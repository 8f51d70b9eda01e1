#include "sim/Trace.h"

#include <cerrno>
#include <cstring>

#include "sim/SimHex.h"

namespace tpcsim {

Trace::~Trace() {
  if (file_) std::fclose(file_);
}

bool Trace::Open(const std::string& path, std::string& error) {
  file_ = std::fopen(path.c_str(), "w");
  if (!file_) {
    error = "cannot write trace file " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void Trace::Write(const char* dir, std::span<const uint8_t> bytes) {
  if (!file_) return;
  long long ms = (clock_.NowUs() - startUs_) / 1000;
  std::fprintf(file_, "%lld %s %s\n", ms, dir, HexLine(bytes).c_str());
  std::fflush(file_);
}

}  // namespace tpcsim
