// The data streams a controller can be asked for: their names on the command line and in
// limits files, the data-stream command that starts each, the data code of its reports and
// the electrodes a scan of it covers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace analysis {

// Every value of a data stream is a 16-bit count.
constexpr int kSampleMax = 65535;

enum class StreamKind { kRaw, kOffset, kSignal, kOpenShort };

// One data-stream command and the reports it starts.
struct StreamPart {
  uint8_t subCommand;  // group 0x4E
  uint8_t dataCode;    // byte 3 of its data reports
  bool hasX;
  bool hasY;
};

struct StreamInfo {
  const char* name;   // "m0-raw"
  const char* label;  // "M0 raw data"
  StreamKind kind;
  int partCount;  // "open-short" runs the X and the Y test one after the other
  StreamPart parts[2];

  bool HasX() const;
  bool HasY() const;
};

std::span<const StreamInfo> AllStreams();
// nullptr for an unknown name.
const StreamInfo* FindStream(std::string_view name);
// "m0-raw, m0-offset, ..." for messages.
std::string StreamNames();

// Electrodes of one scan: all X electrodes first, then all Y electrodes. An axis the
// stream does not cover has a count of 0.
struct ScanLayout {
  int xCount = 0;
  int yCount = 0;

  static ScanLayout For(const StreamInfo& s, int xCount, int yCount);
  static ScanLayout For(const StreamPart& p, int xCount, int yCount);
  int Size() const { return xCount + yCount; }
  // "X0".."X37", "Y0".."Y21"
  std::string Name(int electrode) const;
};

}  // namespace analysis
