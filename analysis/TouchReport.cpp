#include "analysis/TouchReport.h"

#include <cstddef>

namespace analysis {

namespace {
int U16(const uint8_t* p) {
  return p[0] | (p[1] << 8);
}
}  // namespace

bool DecodeTouchReport(const uint8_t* frame, int len, int64_t us, TouchReport& out) {
  if (frame == nullptr || len < 4) return false;
  out.us = us;
  out.count = 0;
  if (frame[0] == 0x01 && len >= 6) {
    TouchContact& c = out.contacts[0];
    c.id = (frame[1] >> 2) & 1;
    c.state = (frame[1] & 1) ? TipState::kDown : TipState::kLift;
    c.x = U16(frame + 2);
    c.y = U16(frame + 4);
    out.count = 1;
    return true;
  }
  if (frame[0] != 0x02 || frame[1] != 0x4D) return false;
  const int n = frame[3];
  for (int k = 0; k < n && out.count < TouchReport::kMaxContacts; ++k) {
    const int at = 4 + 6 * k;
    if (at + 6 > len) break;
    TouchContact& c = out.contacts[static_cast<std::size_t>(out.count++)];
    const uint8_t code = frame[at];
    c.state = code == 0 ? TipState::kNone : code == 4 ? TipState::kLift : TipState::kDown;
    c.id = frame[at + 1];
    c.x = U16(frame + at + 2);
    c.y = U16(frame + at + 4);
  }
  return true;
}

}  // namespace analysis
