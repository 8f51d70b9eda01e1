#include "calib/framework/TKorvikClock.h"

#include <ctime>

namespace {

std::function<std::uint32_t()>& TickSource() {
  static std::function<std::uint32_t()> source;
  return source;
}

std::uint32_t SystemTicks() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

}  // namespace

std::uint32_t KorvikTickCount() {
  const auto& source = TickSource();
  return source ? source() : SystemTicks();
}

void KorvikSetTickSource(std::function<std::uint32_t()> source) {
  TickSource() = std::move(source);
}
