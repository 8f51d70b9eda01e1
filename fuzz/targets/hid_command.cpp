// A descriptor file as `vantrel hid --descriptor FILE` reads it (binary or hexadecimal
// text), then the text and the JSON it prints of the library's analysis.
#include <cstdlib>
#include <span>

#include "cli/HidReport.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!DecodeDescriptor(std::span<const uint8_t>(data, size), bytes, error)) {
    Check(!error.empty() && bytes.empty());
    return 0;
  }
  Check(!bytes.empty());
  const DescriptorAnalysis a = AnalyseDescriptor(bytes);
  Check(a->usable == (a->reason[0] == '\0'));
  Check(!DescriptorText(*a).empty());
  const nlohmann::json j = DescriptorJson(*a);
  Check(j.at("usable").get<bool>() == (a->usable != 0));
  Check(!j.dump().empty());
  if (a->usable) Check(!LayoutSummary(a->pipe).empty());
  return 0;
}
