// HID report descriptors as a device may hand them over: the parser never reads past the
// bytes, and what it accepts is consistent: report ids as the numbering says, sizes within
// what the kernel passes, and a chosen layout that the protocol can use.
#include <cstdlib>
#include <set>
#include <span>

#include "hidpipe/ReportDescriptor.h"
#include "hidpipe/ReportLayout.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hidpipe;
  const DescriptorParse p = parseReportDescriptor(std::span<const uint8_t>(data, size));
  if (!p.ok) {
    Check(!p.error.empty());
    return 0;
  }
  const ReportDescriptor& d = p.descriptor;
  std::set<uint8_t> ids;
  for (const ReportInfo& r : d.reports) {
    Check(ids.insert(r.id).second);
    Check(d.numbered ? r.id != 0 : r.id == 0);
    Check(r.inputBytes != 0 || r.outputBytes != 0);
    Check(r.inputBytes <= kMaxReportBytes && r.outputBytes <= kMaxReportBytes);
  }
  Check(!describeReports(d).empty());

  const LayoutChoice c = chooseLayout(d, 64);
  if (!c.ok) {
    Check(!c.problem.empty());
    return 0;
  }
  const ReportLayout& l = c.layout;
  Check(l.numbered == d.numbered && ids.count(l.inputId) == 1 && ids.count(l.outputId) == 1);
  Check(l.inputBytes >= 64 && l.outputBytes >= 64 && l.largestInputBytes >= l.inputBytes);
  Check(l.largestInputBytes <= kMaxReportBytes);
  Check(!describeLayout(l).empty());
  return 0;
}
