// The C entry points of hidpipe's diagnostics.
#include "hidpipe/hidpipe_diag.h"

#include <algorithm>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "DeviceMatch.h"
#include "HidrawBackend.h"
#include "NodeDescriptor.h"
#include "OpenError.h"
#include "ReportLayout.h"

namespace {

constexpr size_t kFrameBytes = HIDPIPE_REPORT_SIZE;

// The public view, and the storage its pointers point into.
struct Analysis : HidDescriptorAnalysis {
  std::string reasonText, framingText;
  std::vector<HidCollectionDesc> collectionList;
  std::vector<HidReportDesc> reportList;
  std::vector<std::string> skippedNotes;
  std::vector<const char*> skippedTexts;
};

int CollectionOf(const hidpipe::ReportInfo& r) {
  const size_t c = r.inputCollection != hidpipe::kNoCollection ? r.inputCollection : r.outputCollection;
  return c == hidpipe::kNoCollection ? -1 : static_cast<int>(c);
}

void Describe(const hidpipe::DescriptorParse& parse, Analysis& a) {
  const hidpipe::ReportDescriptor& d = parse.descriptor;
  for (const hidpipe::CollectionInfo& c : d.topLevel)
    a.collectionList.push_back({c.usagePage, c.usage, c.vendor() ? 1 : 0});
  for (const hidpipe::ReportInfo& r : d.reports)
    a.reportList.push_back({r.id, r.inputBytes, r.outputBytes, r.featureBytes, CollectionOf(r)});
  a.skippedNotes = parse.skipped;
  for (const std::string& s : a.skippedNotes) a.skippedTexts.push_back(s.c_str());
  a.parsed = parse.ok ? 1 : 0;
  a.numbered = parse.ok && d.numbered ? 1 : 0;
}

void Choose(const hidpipe::LayoutChoice& choice, Analysis& a) {
  a.usable = choice.ok ? 1 : 0;
  if (!choice.ok) {
    a.reasonText = choice.problem;
    return;
  }
  const hidpipe::ReportLayout& l = choice.layout;
  a.framingText = hidpipe::framingName(l);
  a.pipe = {a.framingText.c_str(), l.numbered ? 1 : 0, l.inputId, l.inputBytes, l.outputId,
            l.outputBytes};
}

void Fill(std::span<const uint8_t> bytes, Analysis& a) {
  const hidpipe::DescriptorParse parse = hidpipe::parseReportDescriptor(bytes);
  a.size = bytes.size();
  Describe(parse, a);
  if (parse.ok)
    Choose(hidpipe::chooseLayout(parse.descriptor, kFrameBytes), a);
  else
    a.reasonText = "report descriptor not understood: " + parse.error;
  a.reason = a.reasonText.c_str();
  a.collectionCount = a.collectionList.size();
  a.collections = a.collectionList.data();
  a.reportCount = a.reportList.size();
  a.reports = a.reportList.data();
  a.skippedCount = a.skippedTexts.size();
  a.skipped = a.skippedTexts.data();
}

}  // namespace

extern "C" {

int hidListDevices(HidDeviceDesc* out, int max) {
  const std::vector<hidpipe::HidDeviceInfo> devices = hidpipe::HidrawBackend::enumerate(0, 0);
  for (size_t i = 0; out != nullptr && max > 0 && i < devices.size() && i < size_t(max); ++i)
    hidpipe::describeDevice(devices[i], out[i]);
  return static_cast<int>(devices.size());
}

int hidDeviceMatches(const HidDeviceDesc* device, uint32_t vid, uint32_t pid, uint32_t iface) {
  return device != nullptr && hidpipe::deviceMatches(hidpipe::deviceOf(*device), vid, pid, iface);
}

int hidDeviceChosen(const HidDeviceDesc* device, const char* choice) {
  return device != nullptr &&
         hidpipe::deviceChosen(hidpipe::deviceOf(*device), choice != nullptr ? choice : "");
}

const char* hidBusName(int bus) {
  return hidpipe::busName(bus);
}

int hidDeviceDescriptor(const char* path, uint8_t* buf, int size) {
  std::vector<uint8_t> bytes;
  std::string problem;
  if (path == nullptr || buf == nullptr || size < 0) {
    hidpipe::setOpenError("no device path or no room given");
    return -1;
  }
  if (!hidpipe::readFileBytes(hidpipe::sysfsDescriptorOfNode(path), size_t(size), bytes, problem)) {
    hidpipe::setOpenError(problem);
    return -1;
  }
  hidpipe::setOpenError({});
  std::copy(bytes.begin(), bytes.end(), buf);
  return static_cast<int>(bytes.size());
}

const HidDescriptorAnalysis* hidAnalyseDescriptor(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr) size = 0;
  Analysis* a = new (std::nothrow) Analysis{};
  if (a == nullptr) return nullptr;
  try {
    Fill(std::span<const uint8_t>(bytes, size), *a);
  } catch (const std::bad_alloc&) {
    delete a;
    return nullptr;
  }
  return a;
}

void hidFreeDescriptorAnalysis(const HidDescriptorAnalysis* analysis) {
  delete static_cast<const Analysis*>(analysis);
}

}  // extern "C"
