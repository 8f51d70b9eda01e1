#include "ReportDescriptor.h"

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
  bool vendor = false;
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
    result.descriptor.collections = collections_;
    for (const Bits& b : reports_) {
      if (b.input == 0 && b.output == 0) continue;
      result.descriptor.reports.push_back(
          {b.id, size_t((b.input + 7) / 8), size_t((b.output + 7) / 8), b.vendor});
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
        main(tag, start);
        break;
      case kGlobal:
        global(tag, value, start);
        break;
      case kLocal:
        if (tag == kLocalUsage && size == 4) usagePage_ = value >> 16;
        break;
      case kReserved:
        error_ = at(start, "reserved item type");
        break;
    }
  }

  void main(uint8_t tag, size_t start) {
    switch (tag) {
      case kInput:
      case kOutput:
        addBits(tag == kInput, start);
        break;
      case kFeature:
        break;
      case kCollection:
        if (depth_ == 0) {
          ++collections_;
          const uint32_t page = usagePage_ != 0 ? usagePage_ : g_.usagePage;
          vendor_ = page >= kVendorPageFirst && page <= 0xFFFF;
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
        error_ = at(start, "reserved main item");
        return;
    }
    usagePage_ = 0;  // local items last until the next main item
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

  void addBits(bool input, size_t start) {
    if (g_.reportId == 0) {
      if (numbered_) {
        error_ = at(start, "unnumbered report among numbered ones");
        return;
      }
      unnumberedUsed_ = true;
    }
    Bits& r = report(uint8_t(g_.reportId));
    uint64_t& total = input ? r.input : r.output;
    const uint64_t bits = uint64_t(g_.reportSize) * g_.reportCount;
    const uint64_t limit = uint64_t(kMaxReportBytes) * 8;
    if (bits > limit || total + bits > limit) {
      error_ = at(start, "report larger than the kernel passes");
      return;
    }
    total += bits;
  }

  Bits& report(uint8_t id) {
    for (Bits& b : reports_)
      if (b.id == id) return b;
    reports_.push_back({id, 0, 0, depth_ > 0 && vendor_});
    return reports_.back();
  }

  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
  std::string error_;
  Globals g_;
  std::vector<Globals> stack_;
  uint32_t usagePage_ = 0;  // page of a four-byte usage since the last main item
  size_t depth_ = 0;
  size_t collections_ = 0;
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
  if (descriptor.reports.empty()) return "no input or output reports";
  std::string text;
  for (const ReportInfo& r : descriptor.reports) {
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
