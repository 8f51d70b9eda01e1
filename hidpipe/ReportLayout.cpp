#include "ReportLayout.h"

#include <cstdio>

namespace hidpipe {

namespace {

// The best report by a size: vendor-defined first, then larger, then earlier.
template <typename Size>
const ReportInfo* best(const ReportDescriptor& d, Size size) {
  const ReportInfo* pick = nullptr;
  for (const ReportInfo& r : d.reports) {
    if (size(r) == 0) continue;
    if (pick == nullptr || (r.vendor && !pick->vendor) ||
        (r.vendor == pick->vendor && size(r) > size(*pick)))
      pick = &r;
  }
  return pick;
}

std::string idText(bool numbered, uint8_t id) {
  if (!numbered) return "";
  char text[16];
  std::snprintf(text, sizeof text, "id 0x%02X ", id);
  return text;
}

}  // namespace

LayoutChoice chooseLayout(const ReportDescriptor& descriptor, size_t frameBytes) {
  LayoutChoice choice;
  const ReportInfo* out = best(descriptor, [](const ReportInfo& r) { return r.outputBytes; });
  const ReportInfo* in = nullptr;
  if (out != nullptr && out->inputBytes != 0)
    in = out;
  else
    in = best(descriptor, [](const ReportInfo& r) { return r.inputBytes; });
  if (out == nullptr) {
    choice.problem = "no output report";
    return choice;
  }
  if (in == nullptr) {
    choice.problem = "no input report";
    return choice;
  }
  ReportLayout& l = choice.layout;
  l.numbered = descriptor.numbered;
  l.inputId = in->id;
  l.inputBytes = in->inputBytes;
  l.outputId = out->id;
  l.outputBytes = out->outputBytes;
  for (const ReportInfo& r : descriptor.reports)
    if (r.inputBytes > l.largestInputBytes) l.largestInputBytes = r.inputBytes;
  const auto tooSmall = [&](const char* kind, uint8_t id, size_t bytes) {
    choice.problem = std::string(kind) + " report " + idText(l.numbered, id) + "holds " +
                     std::to_string(bytes) + " bytes, frames need " + std::to_string(frameBytes);
  };
  if (l.outputBytes < frameBytes)
    tooSmall("output", l.outputId, l.outputBytes);
  else if (l.inputBytes < frameBytes)
    tooSmall("input", l.inputId, l.inputBytes);
  else
    choice.ok = true;
  return choice;
}

std::string describeLayout(const ReportLayout& layout) {
  std::string text = "input " + idText(layout.numbered, layout.inputId) +
                     std::to_string(layout.inputBytes) + " bytes, output " +
                     idText(layout.numbered, layout.outputId) + std::to_string(layout.outputBytes) +
                     " bytes";
  if (!layout.numbered) text += ", unnumbered";
  return text;
}

}  // namespace hidpipe
