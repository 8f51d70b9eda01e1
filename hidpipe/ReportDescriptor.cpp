#include "ReportDescriptor.h"

#include <algorithm>
#include <cstdio>

namespace hidpipe {

namespace {

// Item types and the tags we act on (HID class definition, section 6.2.2).
enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };
enum MainTag : uint8_t {
  kInput = 0x8,
  kOutput = 0x9,
  kCollection = 0xA,
  kFeature = 0xB,
  kEndCollection = 0xC
};
enum GlobalTag : uint8_t {
  kUsagePage = 0x0,
  kReportSize = 0x7,
  kReportId = 0x8,
  kReportCount = 0x9,
  kPush = 0xA,
  kPop = 0xB,
  kLastGlobal = kPop
};
constexpr uint8_t kLocalUsage = 0x0;
constexpr uint8_t kLongItem = 0xFE;
constexpr size_t kStackDepth = 16;
constexpr uint32_t kVendorPageFirst = 0xFF00;

struct Globals {
  uint32_t usagePage = 0;
  uint32_t reportSize = 0;
  uint32_t reportCount = 0;
  uint32_t reportId = 0;
};

struct Bits {
  uint8_t id = 0;
  uint64_t input = 0;
  uint64_t output = 0;
  uint64_t feature = 0;
  bool vendor = false;
  size_t inputCollection = kNoCollection;
  size_t outputCollection = kNoCollection;
};

std::string at(size_t pos, const char* what) {
  char text[96];
  std::snprintf(text, sizeof text, "%s at byte %zu", what, pos);
  return text;
}

class Parser {
 public:
  explicit Parser(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  DescriptorParse run() {
    DescriptorParse result;
    while (pos_ < bytes_.size() && error_.empty()) item();
    if (error_.empty() && depth_ != 0) error_ = "collection not closed at the end";
    if (!error_.empty()) {
      result.error = error_;
      return result;
    }
    result.ok = true;
    result.descriptor.numbered = numbered_;
    result.descriptor.collections = topLevel_.size();
    result.descriptor.topLevel = topLevel_;
    result.skipped = skipped_;
    const auto bytes = [](uint64_t bits) { return size_t((bits + 7) / 8); };
    for (const Bits& b : reports_) {
      if (b.input == 0 && b.output == 0 && b.feature == 0) continue;
      result.descriptor.reports.push_back({b.id, bytes(b.input), bytes(b.output), b.vendor,
                                           bytes(b.feature), b.inputCollection,
                                           b.outputCollection});
    }
    return result;
  }

 private:
  void item() {
    const size_t start = pos_;
    const uint8_t prefix = bytes_[pos_];
    if (prefix == kLongItem) {
      // Long items: size byte, tag byte, data. None is defined; skipped.
      if (bytes_.size() - pos_ < 3 || bytes_.size() - pos_ - 3 < bytes_[pos_ + 1]) {
        error_ = at(start, "long item runs past the end");
        return;
      }
      pos_ += 3 + size_t(bytes_[pos_ + 1]);
      return;
    }
    const size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
    if (bytes_.size() - pos_ - 1 < size) {
      error_ = at(start, "item runs past the end");
      return;
    }
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i) value |= uint32_t(bytes_[pos_ + 1 + i]) << (8 * i);
    pos_ += 1 + size;
    const uint8_t tag = prefix >> 4;
    switch ((prefix >> 2) & 3) {
      case kMain:
        main(tag, start, prefix);
        break;
      case kGlobal:
        global(tag, value, start);
        break;
      case kLocal:
        if (tag == kLocalUsage && !haveUsage_) {
          haveUsage_ = true;
          usage_ = value;
          usageSize_ = size;
        }
        break;
      case kReserved:
        skip(start, "reserved item type", prefix);
        break;
    }
  }

  // The kernel warns and goes on; so do we, and say so.
  void skip(size_t start, const char* what, uint8_t prefix) {
    if (skipped_.size() == kSkipNotes) return;
    char text[96];
    std::snprintf(text, sizeof text, "%s (prefix 0x%02X) at byte %zu skipped", what, prefix, start);
    skipped_.push_back(text);
  }

  void main(uint8_t tag, size_t start, uint8_t prefix) {
    switch (tag) {
      case kInput:
        addBits(r_input, start);
        break;
      case kOutput:
        addBits(r_output, start);
        break;
      case kFeature:
        addBits(r_feature, start);
        break;
      case kCollection:
        if (depth_ == 0) {
          // The collection's usage: its first usage item, on the page it names or the
          // current one.
          const uint32_t page = haveUsage_ && usageSize_ == 4 ? usage_ >> 16 : g_.usagePage;
          vendor_ = page >= kVendorPageFirst && page <= 0xFFFF;
          topLevel_.push_back(
              {uint16_t(page), uint16_t(haveUsage_ ? usage_ & 0xFFFF : 0)});
        }
        ++depth_;
        break;
      case kEndCollection:
        if (depth_ == 0)
          error_ = at(start, "end of a collection that was not opened");
        else
          --depth_;
        break;
      default:
        skip(start, "reserved main item", prefix);
        break;
    }
    haveUsage_ = false;  // local items last until the next main item
  }

  void global(uint8_t tag, uint32_t value, size_t start) {
    switch (tag) {
      case kUsagePage:
        g_.usagePage = value;
        break;
      case kReportSize:
        g_.reportSize = value;
        break;
      case kReportCount:
        g_.reportCount = value;
        break;
      case kReportId:
        if (value == 0 || value > 0xFF)
          error_ = at(start, "report id out of 1 to 255");
        else if (unnumberedUsed_)
          error_ = at(start, "report id after unnumbered reports");
        g_.reportId = value;
        numbered_ = true;
        break;
      case kPush:
        if (stack_.size() == kStackDepth)
          error_ = at(start, "push nested too deep");
        else
          stack_.push_back(g_);
        break;
      case kPop:
        if (stack_.empty()) {
          error_ = at(start, "pop without push");
        } else {
          g_ = stack_.back();
          stack_.pop_back();
        }
        break;
      default:
        if (tag > kLastGlobal) error_ = at(start, "reserved global item");
        break;
    }
  }

  enum Kind { r_input, r_output, r_feature };

  void addBits(Kind kind, size_t start) {
    if (g_.reportId == 0) {
      if (numbered_) {
        error_ = at(start, "unnumbered report among numbered ones");
        return;
      }
      unnumberedUsed_ = true;
    }
    Bits& r = report(uint8_t(g_.reportId));
    uint64_t& total = kind == r_input ? r.input : kind == r_output ? r.output : r.feature;
    const uint64_t bits = uint64_t(g_.reportSize) * g_.reportCount;
    const uint64_t limit = uint64_t(kMaxReportBytes) * 8;
    if (bits > limit || total + bits > limit) {
      error_ = at(start, "report larger than the kernel passes");
      return;
    }
    total += bits;
    const size_t here = depth_ > 0 ? topLevel_.size() - 1 : kNoCollection;
    if (bits != 0 && kind == r_input && r.input == bits) r.inputCollection = here;
    if (bits != 0 && kind == r_output && r.output == bits) r.outputCollection = here;
  }

  Bits& report(uint8_t id) {
    for (Bits& b : reports_)
      if (b.id == id) return b;
    Bits b;
    b.id = id;
    b.vendor = depth_ > 0 && vendor_;
    reports_.push_back(b);
    return reports_.back();
  }

  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
  std::string error_;
  Globals g_;
  std::vector<Globals> stack_;
  bool haveUsage_ = false;  // the first usage since the last main item
  uint32_t usage_ = 0;
  size_t usageSize_ = 0;
  size_t depth_ = 0;
  std::vector<CollectionInfo> topLevel_;
  std::vector<std::string> skipped_;
  bool vendor_ = false;  // the current top-level collection is vendor-defined
  bool numbered_ = false;
  bool unnumberedUsed_ = false;
  std::vector<Bits> reports_;
};

}  // namespace

DescriptorParse parseReportDescriptor(std::span<const uint8_t> bytes) {
  return Parser(bytes).run();
}

std::string describeReports(const ReportDescriptor& descriptor) {
  const bool any = std::any_of(descriptor.reports.begin(), descriptor.reports.end(),
                              [](const ReportInfo& r) { return r.inputBytes + r.outputBytes > 0; });
  if (!any) return "no input or output reports";
  std::string text;
  for (const ReportInfo& r : descriptor.reports) {
    if (r.inputBytes == 0 && r.outputBytes == 0) continue;
    char line[96];
    if (descriptor.numbered)
      std::snprintf(line, sizeof line, "%sid 0x%02X%s: ", text.empty() ? "" : "; ", r.id,
                    r.vendor ? " (vendor)" : "");
    else
      std::snprintf(line, sizeof line, "unnumbered%s: ", r.vendor ? " (vendor)" : "");
    text += line;
    if (r.inputBytes != 0) text += "input " + std::to_string(r.inputBytes) + " bytes";
    if (r.inputBytes != 0 && r.outputBytes != 0) text += ", ";
    if (r.outputBytes != 0) text += "output " + std::to_string(r.outputBytes) + " bytes";
  }
  return text;
}

}  // namespace hidpipe
