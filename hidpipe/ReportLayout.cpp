#include "ReportLayout.h"

#include <cstdio>
#include <vector>

namespace hidpipe {

namespace {

constexpr const char* kNoOutput = "no output report in a vendor-defined collection";

std::string idText(bool numbered, uint8_t id) {
  if (!numbered) return "";
  char text[16];
  std::snprintf(text, sizeof text, "id 0x%02X ", id);
  return text;
}

std::string hexByte(uint8_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", v);
  return text;
}

// Frame types the host sends, and the bytes of their largest frame on the wire.
size_t frameTypeBytes(uint8_t id, size_t frameBytes) {
  switch (id) {
    case 0x02:
    case 0xF2:
    case 0xF4:
      return frameBytes;
    case 0xF1:
    case 0xF3:
      return 8;
    default:
      return 0;
  }
}

class CollectionChooser {
 public:
  CollectionChooser(const ReportDescriptor& d, size_t collection, size_t frameBytes)
      : d_(d), c_(collection), frameBytes_(frameBytes), need_(d.numbered ? frameBytes - 1 : frameBytes) {}

  LayoutChoice run() {
    LayoutChoice choice;
    ReportLayout& l = choice.layout;
    l.numbered = d_.numbered;
    const ReportInfo* out = pickOutput(l, choice.problem);
    if (out == nullptr) return choice;
    const ReportInfo* in = pickInput(*out, choice.problem);
    if (in == nullptr) return choice;
    l.outputId = out->id;
    l.outputBytes = out->outputBytes;
    l.inputId = in->id;
    l.inputBytes = in->inputBytes;
    for (const ReportInfo& r : d_.reports) {
      if (r.inputBytes > l.largestInputBytes) l.largestInputBytes = r.inputBytes;
      if (l.idIsFrameType && r.inputCollection == c_ && r.inputBytes != 0 &&
          isReceivedFrameType(r.id))
        l.inputIds.set(r.id);
    }
    if (l.idIsFrameType) l.inputIds.set(in->id);
    choice.ok = true;
    return choice;
  }

 private:
  std::string tooSmall(const char* kind, uint8_t id, size_t bytes, size_t need,
                       const std::string& frames) const {
    return std::string(kind) + " report " + idText(d_.numbered, id) + "holds " +
           std::to_string(bytes) + " bytes, " + frames + " need " + std::to_string(need) +
           (d_.numbered ? " after the id" : "");
  }

  const ReportInfo* pickOutput(ReportLayout& l, std::string& problem) {
    std::vector<const ReportInfo*> outs;
    for (const ReportInfo& r : d_.reports)
      if (r.outputCollection == c_ && r.outputBytes != 0) outs.push_back(&r);
    if (outs.empty()) {
      problem = kNoOutput;
      return nullptr;
    }
    const ReportInfo* pick = nullptr;
    if (d_.numbered) {
      for (const ReportInfo* r : outs) {
        const size_t wire = frameTypeBytes(r->id, frameBytes_);
        if (wire == 0) continue;
        if (r->outputBytes + 1 < wire) {
          problem = tooSmall("output", r->id, r->outputBytes, wire - 1, hexByte(r->id) + " frames");
          return nullptr;
        }
        l.idIsFrameType = true;
        l.outputBytesById[r->id] = uint16_t(r->outputBytes);
        if (pick == nullptr || r->id == 0x02) pick = r;
      }
      if (pick != nullptr) return pick;
    }
    for (const ReportInfo* r : outs)
      if (pick == nullptr || r->outputBytes > pick->outputBytes) pick = r;
    if (pick->outputBytes < need_) {
      problem = tooSmall("output", pick->id, pick->outputBytes, need_, "frames");
      return nullptr;
    }
    return pick;
  }

  const ReportInfo* pickInput(const ReportInfo& out, std::string& problem) const {
    if (out.inputCollection == c_ && out.inputBytes >= need_) return &out;
    const ReportInfo* pick = nullptr;
    const ReportInfo* largest = nullptr;
    for (const ReportInfo& r : d_.reports) {
      if (r.inputCollection != c_ || r.inputBytes == 0) continue;
      if (largest == nullptr || r.inputBytes > largest->inputBytes) largest = &r;
      if (r.inputBytes >= need_ && (pick == nullptr || r.inputBytes < pick->inputBytes)) pick = &r;
    }
    if (pick != nullptr) return pick;
    if (largest != nullptr)
      problem = tooSmall("input", largest->id, largest->inputBytes, need_, "frames");
    else if (d_.numbered)
      problem = "no input report in the vendor-defined collection of output id " + hexByte(out.id);
    else
      problem = "no input report in the vendor-defined collection";
    return nullptr;
  }

  const ReportDescriptor& d_;
  size_t c_;
  size_t frameBytes_;
  size_t need_;  // bytes a report holds for a whole frame, id not counted
};

}  // namespace

LayoutChoice chooseLayout(const ReportDescriptor& descriptor, size_t frameBytes) {
  LayoutChoice first;
  bool haveFirst = false;
  for (size_t c = 0; c < descriptor.topLevel.size(); ++c) {
    if (!descriptor.topLevel[c].vendor()) continue;
    LayoutChoice choice = CollectionChooser(descriptor, c, frameBytes).run();
    if (choice.ok) return choice;
    // The reason shown: the first collection's with an output, else the first one's.
    if (!haveFirst || (first.problem == kNoOutput && choice.problem != kNoOutput)) {
      first = choice;
      haveFirst = true;
    }
  }
  if (!haveFirst) first.problem = "no vendor-defined collection";
  return first;
}

std::string describeLayout(const ReportLayout& layout) {
  std::string text = "input " + idText(layout.numbered, layout.inputId) +
                     std::to_string(layout.inputBytes) + " bytes, output " +
                     idText(layout.numbered, layout.outputId) + std::to_string(layout.outputBytes) +
                     " bytes, ";
  if (!layout.numbered) return text + "unnumbered";
  return text + (layout.idIsFrameType ? "id is frame type" : "numbered pipe");
}

bool isReceivedFrameType(uint8_t id) {
  return id == 0x02 || (id >= 0xF1 && id <= 0xF5);
}

std::string framingName(const ReportLayout& layout) {
  if (!layout.numbered) return "unnumbered";
  return layout.idIsFrameType ? "id-is-frame-type" : "numbered-pipe";
}

}  // namespace hidpipe
