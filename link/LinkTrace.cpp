#include "LinkTrace.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
const auto gProcessStart = std::chrono::steady_clock::now();
}

bool LinkTraceEnabled() {
  static const bool enabled = std::getenv("VANTREL_TRACE") != nullptr;
  return enabled;
}

void LinkTrace(const char* fmt, ...) {
  if (!LinkTraceEnabled()) return;
  va_list args;
  va_start(args, fmt);
  std::vfprintf(stderr, fmt, args);
  va_end(args);
}

uint32_t ProcessClockMs() {
  auto elapsed = std::chrono::steady_clock::now() - gProcessStart;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  return static_cast<uint32_t>(ms);
}
