// Coordinate reports as the touch analysis sees them: contacts with an id, a tip state
// and a position in panel units, stamped with the time they arrived.
#pragma once

#include <array>
#include <cstdint>

namespace analysis {

enum class TipState : uint8_t { kNone = 0, kDown = 1, kLift = 2 };

struct TouchContact {
  int id = 0;
  TipState state = TipState::kNone;
  double x = 0, y = 0;  // panel units
};

struct TouchReport {
  static constexpr int kMaxContacts = 10;
  int64_t us = 0;  // arrival time, microseconds
  int count = 0;
  std::array<TouchContact, kMaxContacts> contacts{};
};

// A multi-touch report (02 4D N C, 6-byte entries: status 7 down, 4 lift, 0 none) or a
// serial single-touch report (type 01: bit 0 touching, bit 2 the second finger). False
// for any other frame; never reads past len. Unknown status codes count as down.
bool DecodeTouchReport(const uint8_t* frame, int len, int64_t us, TouchReport& out);

}  // namespace analysis
