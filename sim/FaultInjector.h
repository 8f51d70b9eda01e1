// Faults switched on and off at run time: negative acknowledgement of one
// sub-command, silence, garbage bytes, truncated frames, lying length bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/OutFrame.h"

namespace tpcsim {

class FaultInjector {
 public:
  void SetNak(std::optional<uint8_t> sub) { nak_ = sub; }
  std::optional<uint8_t> Nak() const { return nak_; }
  void SetSilence(bool on) { silence_ = on; }
  bool Silence() const { return silence_; }

  // 0 = off, 1 = every frame, n = one frame in n.
  void SetGarbageEvery(int n) { garbage_.every = n < 0 ? 0 : n; }
  void SetTruncateEvery(int n) { truncate_.every = n < 0 ? 0 : n; }
  void SetBadLenEvery(int n) { badLen_.every = n < 0 ? 0 : n; }
  int GarbageEvery() const { return garbage_.every; }
  int TruncateEvery() const { return truncate_.every; }
  int BadLenEvery() const { return badLen_.every; }

  // A burst of bytes that is no frame (never starts with a frame type and holds no
  // STX or CR, so it cannot end a serial packet either).
  Bytes GarbageBytes();

  // Appends `frame` to `out`, altered or preceded by garbage as the faults say.
  // Returns the number of units appended.
  int Apply(Bytes frame, std::vector<OutFrame>& out);

  void Reset();

 private:
  struct Every {
    int every = 0;
    uint64_t count = 0;
    bool Hit() { return every > 0 && (++count % static_cast<uint64_t>(every)) == 0; }
  };
  std::optional<uint8_t> nak_;
  bool silence_ = false;
  Every garbage_, truncate_, badLen_;
  uint32_t rng_ = 0x9E3779B9u;
};

}  // namespace tpcsim
