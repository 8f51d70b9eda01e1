// One unit the controller hands to a transport.
#pragma once

#include "sim/SimHex.h"

namespace tpcsim {

struct OutFrame {
  Bytes bytes;
  // Raw bytes (injected garbage): sent as they are, without serial framing; on USB
  // one report.
  bool raw = false;
};

}  // namespace tpcsim
