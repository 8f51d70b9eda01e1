// The reports the protocol travels in, chosen from an interface's report descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ReportDescriptor.h"

namespace hidpipe {

struct ReportLayout {
  bool numbered = false;
  uint8_t inputId = 0;  // 0 when unnumbered
  size_t inputBytes = 0;
  uint8_t outputId = 0;
  size_t outputBytes = 0;
  size_t largestInputBytes = 0;  // of every input report of the interface: one read's room
};

struct LayoutChoice {
  bool ok = false;
  ReportLayout layout;
  std::string problem;  // when not ok: why the protocol cannot use the interface
};

// Output: the largest output report, those of a vendor-defined collection first. Input:
// the output's own id when it also carries input, else the largest input report, vendor
// ones first. Refused when either is missing or holds fewer than frameBytes.
LayoutChoice chooseLayout(const ReportDescriptor& descriptor, size_t frameBytes);

// "input 64 bytes, output 64 bytes, unnumbered" or "input id 0x01 64 bytes, output id 0x02
// 64 bytes".
std::string describeLayout(const ReportLayout& layout);

}  // namespace hidpipe
