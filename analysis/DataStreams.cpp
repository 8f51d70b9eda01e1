#include "analysis/DataStreams.h"

namespace analysis {

namespace {

constexpr StreamInfo kStreams[] = {
    {"m0-raw", "M0 raw data", StreamKind::kRaw, 1, {{0x04, 0x00, true, true}, {}}},
    {"m0-offset", "M0 offset data", StreamKind::kOffset, 1, {{0x05, 0x01, true, true}, {}}},
    {"m0-signal", "M0 signal data", StreamKind::kSignal, 1, {{0x06, 0x02, true, true}, {}}},
    {"m1x-raw", "M1 X raw data", StreamKind::kRaw, 1, {{0x0C, 0x08, true, false}, {}}},
    {"m1x-offset", "M1 X offset data", StreamKind::kOffset, 1, {{0x25, 0x25, true, false}, {}}},
    {"m1x-signal", "M1 X signal data", StreamKind::kSignal, 1, {{0x26, 0x26, true, false}, {}}},
    {"m1y-raw", "M1 Y raw data", StreamKind::kRaw, 1, {{0x0D, 0x09, false, true}, {}}},
    {"m1y-offset", "M1 Y offset data", StreamKind::kOffset, 1, {{0x2D, 0x2D, false, true}, {}}},
    {"m1y-signal", "M1 Y signal data", StreamKind::kSignal, 1, {{0x2E, 0x2E, false, true}, {}}},
    {"open-short",
     "Open/Short data",
     StreamKind::kOpenShort,
     2,
     {{0x1C, 0x1C, true, false}, {0x1D, 0x1D, false, true}}},
    {"open-short-x",
     "Open/Short X data",
     StreamKind::kOpenShort,
     1,
     {{0x1C, 0x1C, true, false}, {}}},
    {"open-short-y",
     "Open/Short Y data",
     StreamKind::kOpenShort,
     1,
     {{0x1D, 0x1D, false, true}, {}}},
};

}  // namespace

bool StreamInfo::HasX() const {
  for (int i = 0; i < partCount; ++i)
    if (parts[i].hasX) return true;
  return false;
}

bool StreamInfo::HasY() const {
  for (int i = 0; i < partCount; ++i)
    if (parts[i].hasY) return true;
  return false;
}

std::span<const StreamInfo> AllStreams() {
  return kStreams;
}

const StreamInfo* FindStream(std::string_view name) {
  for (const StreamInfo& s : kStreams)
    if (name == s.name) return &s;
  return nullptr;
}

std::string StreamNames() {
  std::string out;
  for (const StreamInfo& s : kStreams) {
    if (!out.empty()) out += ", ";
    out += s.name;
  }
  return out;
}

ScanLayout ScanLayout::For(const StreamInfo& s, int xCount, int yCount) {
  return ScanLayout{s.HasX() ? xCount : 0, s.HasY() ? yCount : 0};
}

ScanLayout ScanLayout::For(const StreamPart& p, int xCount, int yCount) {
  return ScanLayout{p.hasX ? xCount : 0, p.hasY ? yCount : 0};
}

std::string ScanLayout::Name(int electrode) const {
  if (electrode < xCount) return "X" + std::to_string(electrode);
  return "Y" + std::to_string(electrode - xCount);
}

}  // namespace analysis
