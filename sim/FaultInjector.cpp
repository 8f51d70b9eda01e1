#include "sim/FaultInjector.h"

namespace tpcsim {

Bytes FaultInjector::GarbageBytes() {
  Bytes g(16);
  g[0] = 0xEE;
  for (size_t i = 1; i < g.size(); ++i) {
    rng_ = rng_ * 1664525u + 1013904223u;
    uint8_t b = static_cast<uint8_t>(rng_ >> 24);
    if (b == 0x02 || b == 0x0D) b ^= 0x40;
    g[i] = b;
  }
  return g;
}

int FaultInjector::Apply(Bytes frame, std::vector<OutFrame>& out) {
  int n = 0;
  if (garbage_.Hit()) {
    out.push_back(OutFrame{GarbageBytes(), true});
    ++n;
  }
  bool cut = false;
  if (truncate_.Hit() && frame.size() > 1) {
    frame.resize(frame.size() / 2);
    cut = true;
  }
  if (badLen_.Hit() && frame.size() >= 3 && frame[0] == 0x02) {
    // Claims five bytes more than the frame carries.
    frame[2] = static_cast<uint8_t>(frame[2] <= 250 ? frame[2] + 5 : 0xFF);
  }
  out.push_back(OutFrame{std::move(frame), false, cut});
  return n + 1;
}

void FaultInjector::Reset() {
  *this = FaultInjector{};
}

}  // namespace tpcsim
