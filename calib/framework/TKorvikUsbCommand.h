#pragma once

#include "calib/framework/TKorvikUsbMessage.h"

// A command (and, by derivation, a response): carries its command table row.
// A type 02 frame whose length byte disagrees with its content is corrected (and logged).
class TKorvikUsbCommand : public TKorvikUsbMessage {
 public:
  TKorvikUsbCommand(TKorvikObj* owner, std::span<const std::uint8_t> content, std::uint8_t received,
                    std::uint8_t commandIndex);

  std::uint8_t CommandIndex() const { return FCommandIndex; }

 private:
  std::uint8_t FCommandIndex = 0;
};
