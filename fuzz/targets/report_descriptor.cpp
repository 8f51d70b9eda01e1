// HID report descriptors as a device may hand them over: the parser never reads past the
// bytes, and what it accepts is consistent: report ids as the numbering says, sizes within
// what the kernel passes, and a chosen layout that the protocol can use. The same bytes
// also go the way of `vantrel hid --descriptor FILE` (binary or hexadecimal text, then the
// text and JSON it prints).
#include <cstdlib>
#include <set>
#include <span>

#include "cli/HidReport.h"
#include "hidpipe/ReportDescriptor.h"
#include "hidpipe/ReportLayout.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// The file's contents through vantrel hid's decoding and both printouts.
void HidCommandPath(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!DecodeDescriptor(std::span<const uint8_t>(data, size), bytes, error)) {
    Check(!error.empty() && bytes.empty());
    return;
  }
  Check(!bytes.empty());
  const DescriptorAnalysis a = AnalyseDescriptor(bytes);
  Check(a.Usable() == a.Reason().empty());
  Check(!DescriptorText(a).empty());
  const nlohmann::json j = DescriptorJson(a);
  Check(j.at("usable").get<bool>() == a.Usable());
  Check(!j.dump().empty());
  if (a.Usable()) Check(!LayoutSummary(a.choice.layout).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hidpipe;
  HidCommandPath(data, size);
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
    Check(r.inputBytes != 0 || r.outputBytes != 0 || r.featureBytes != 0);
    Check(r.inputBytes <= kMaxReportBytes && r.outputBytes <= kMaxReportBytes);
    Check(r.inputCollection == kNoCollection || r.inputCollection < d.topLevel.size());
    Check(r.outputCollection == kNoCollection || r.outputCollection < d.topLevel.size());
  }
  Check(!describeReports(d).empty());

  const LayoutChoice c = chooseLayout(d, 64);
  if (!c.ok) {
    Check(!c.problem.empty());
    return 0;
  }
  const ReportLayout& l = c.layout;
  Check(l.numbered == d.numbered && ids.count(l.inputId) == 1 && ids.count(l.outputId) == 1);
  // A whole frame: 64 bytes on the wire, the id counted; only a vendor collection's.
  const size_t whole = l.numbered ? 63 : 64;
  Check(l.inputBytes >= whole && l.largestInputBytes >= l.inputBytes);
  Check(l.idIsFrameType ? l.outputBytesById[l.outputId] == l.outputBytes : l.outputBytes >= whole);
  Check(l.idIsFrameType == (l.numbered && l.outputBytesById[l.outputId] != 0));
  size_t inputFrom = kNoCollection, outputFrom = kNoCollection;
  for (const ReportInfo& r : d.reports) {
    if (r.id == l.inputId) inputFrom = r.inputCollection;
    if (r.id == l.outputId) outputFrom = r.outputCollection;
  }
  Check(inputFrom == outputFrom && outputFrom < d.topLevel.size() &&
        d.topLevel[outputFrom].vendor());
  Check(l.largestInputBytes <= kMaxReportBytes);
  Check(!describeLayout(l).empty());
  return 0;
}
