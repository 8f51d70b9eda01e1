// The limits file reader and its electrode selectors: any bytes are read or refused with
// a place, never a crash; a file that reads resolves for any panel or is refused, and
// every electrode it then names lies on the panel; the checks run over any resolved file.
#include <cstdlib>
#include <toml++/toml.h>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "analysis/ElectrodeStats.h"
#include "analysis/Limits.h"
#include "analysis/LimitsCheck.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const int xCount = 1 + in.Byte() % 64;
  const int yCount = 1 + in.Byte() % 64;
  std::span<const uint8_t> body = in.Rest();
  const std::string text(reinterpret_cast<const char*>(body.data()), body.size());

  analysis::Limits limits;
  analysis::LimitsError err;
  if (!analysis::ParseLimits(text, "fuzz.toml", limits, err)) {
    Check(!err.Text().empty());
    return 0;
  }
  // Only a file for the touch tests or the noise sweep ([touch], [noise], or the panel's
  // size) names no stream; the tables are looked up by key, as quoted keys may escape.
  if (limits.streams.empty() && !limits.widthMm && !limits.heightMm) {
    const toml::table root = toml::parse(text);
    Check(root.contains("touch") || root.contains("noise"));
  }
  if (!analysis::ResolveLimits(limits, xCount, yCount, err)) return 0;
  analysis::CheckComplete(limits, err);
  for (const analysis::StreamLimits& s : limits.streams) {
    Check(static_cast<int>(s.perElectrode.size()) == s.layout.Size());
    for (const analysis::LimitEntry& e : s.entries)
      for (const analysis::ElectrodeSelector& sel : e.electrodes) {
        Check(sel.first >= 0);
        Check(sel.last == -1 || sel.last >= sel.first);
        const int count = sel.axis == 'Y' ? s.layout.yCount : s.layout.xCount;
        Check(sel.axis == 'A' || sel.last < count);
      }
    for (const analysis::LimitValues& v : s.perElectrode)
      Check(!v.meanMin || !v.meanMax || *v.meanMin <= *v.meanMax);
    analysis::ElectrodeStats stats(s.layout, s.stream->kind);
    std::vector<int32_t> scan(static_cast<size_t>(s.layout.Size()), 1000);
    stats.Add(scan);
    std::vector<analysis::Check> checks;
    analysis::CheckStream(s, stats, checks);
  }
  return 0;
}
