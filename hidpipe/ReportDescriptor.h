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

// Index of no top-level collection (a report declared outside any).
constexpr size_t kNoCollection = static_cast<size_t>(-1);

struct ReportInfo {
  uint8_t id = 0;  // 0: the interface does not number its reports
  size_t inputBytes = 0;
  size_t outputBytes = 0;
  bool vendor = false;  // first declared inside a vendor-defined top-level collection
  size_t featureBytes = 0;
  // Top-level collections its input and its output were first declared in.
  size_t inputCollection = kNoCollection;
  size_t outputCollection = kNoCollection;
};

struct CollectionInfo {
  uint16_t usagePage = 0;
  uint16_t usage = 0;
  bool vendor() const { return usagePage >= 0xFF00; }
};

struct ReportDescriptor {
  bool numbered = false;
  std::vector<ReportInfo> reports;  // with input, output or feature, in order of first appearance
  size_t collections = 0;           // top-level collections
  std::vector<CollectionInfo> topLevel;  // their usage pages and usages, in order
};

struct DescriptorParse {
  bool ok = false;
  ReportDescriptor descriptor;
  std::string error;                 // when not ok: what is wrong, and at which byte
  std::vector<std::string> skipped;  // items passed over as the kernel does, at most kSkipNotes
};

constexpr size_t kSkipNotes = 16;

// Reads the descriptor's items. Refuses (ok false) what the kernel refuses: an item that
// runs past the end, reserved global tags, report id 0 or above 255, unbalanced
// collections, a pop without push; also numbered and unnumbered reports mixed and a report
// larger than kMaxReportBytes. Reserved main items and reserved item types are skipped
// (noted in skipped), as the kernel does. Never reads past bytes.
DescriptorParse parseReportDescriptor(std::span<const uint8_t> bytes);

// Input and output reports only: "unnumbered: input 64 bytes, output 64 bytes" or
// "id 0x01: input 8 bytes; id 0x02 (vendor): input 64 bytes, output 64 bytes".
std::string describeReports(const ReportDescriptor& descriptor);

}  // namespace hidpipe
