// HID report descriptors as a device may hand them over: the parser never reads past the
// bytes, and what it accepts is consistent: report ids as the numbering says, sizes within
// what the kernel passes, and a chosen layout that the protocol can use. The library's
// public analysis of the same bytes says the same.
#include <cstdlib>
#include <set>
#include <span>

#include "hidpipe/ReportDescriptor.h"
#include "hidpipe/ReportLayout.h"
#include "hidpipe/hidpipe_diag.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// hidAnalyseDescriptor agrees with the parser and the chooser it stands for.
void PublicAnalysis(const uint8_t* data, size_t size, const hidpipe::DescriptorParse& p,
                    const hidpipe::LayoutChoice* c) {
  const HidDescriptorAnalysis* a = hidAnalyseDescriptor(data, size);
  Check(a != nullptr && a->size == size && a->parsed == (p.ok ? 1 : 0));
  Check(a->skippedCount == p.skipped.size());
  Check(a->usable == (c != nullptr && c->ok ? 1 : 0) && (a->reason[0] == '\0') == (a->usable == 1));
  if (p.ok) Check(a->reportCount == p.descriptor.reports.size() &&
                  a->collectionCount == p.descriptor.topLevel.size());
  for (size_t i = 0; i < a->reportCount; ++i)
    Check(a->reports[i].collection < static_cast<int>(a->collectionCount));
  if (a->usable) Check(a->pipe.inputId == c->layout.inputId && a->pipe.outputBytes == c->layout.outputBytes);
  hidFreeDescriptorAnalysis(a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hidpipe;
  const DescriptorParse p = parseReportDescriptor(std::span<const uint8_t>(data, size));
  if (!p.ok) {
    Check(!p.error.empty());
    PublicAnalysis(data, size, p, nullptr);
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
  PublicAnalysis(data, size, p, &c);
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
