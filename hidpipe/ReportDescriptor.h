// The reports a HID interface declares in its report descriptor: for each report id, how
// many bytes of input and of output it carries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace hidpipe {

// Largest report the hidraw driver passes through (HID_MAX_BUFFER_SIZE), id not counted.
constexpr size_t kMaxReportBytes = 16384;

struct ReportInfo {
  uint8_t id = 0;  // 0: the interface does not number its reports
  size_t inputBytes = 0;
  size_t outputBytes = 0;
  bool vendor = false;  // first declared inside a vendor-defined top-level collection
};

struct ReportDescriptor {
  bool numbered = false;
  std::vector<ReportInfo> reports;  // with input or output, in order of first appearance
  size_t collections = 0;           // top-level collections
};

struct DescriptorParse {
  bool ok = false;
  ReportDescriptor descriptor;
  std::string error;  // when not ok: what is wrong, and at which byte
};

// Reads the descriptor's items. Refuses (ok false) an item that runs past the end, reserved
// item types and tags, report id 0 or above 255, numbered and unnumbered reports mixed,
// unbalanced collections or push/pop, and a report larger than kMaxReportBytes. Never
// reads past bytes.
DescriptorParse parseReportDescriptor(std::span<const uint8_t> bytes);

// "unnumbered: input 64 bytes, output 64 bytes" or
// "id 0x01: input 8 bytes; id 0x02 (vendor): input 64 bytes, output 64 bytes".
std::string describeReports(const ReportDescriptor& descriptor);

}  // namespace hidpipe
