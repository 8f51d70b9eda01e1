// One unit the controller hands to a transport.
#pragma once

#include "sim/SimHex.h"

namespace tpcsim {

struct OutFrame {
  Bytes bytes;
  // Raw bytes (injected garbage): sent as they are, without serial framing; on USB
  // one report.
  bool raw = false;
  // Cut short by a fault: on USB the report ends with the bytes that are left.
  bool cut = false;
};

}  // namespace tpcsim
