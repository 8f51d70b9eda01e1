// The capture file: a header of "#" lines, then one frame a line (docs/CAPTURE.md).
// Writing and parsing of the text; files and compression are in CaptureFile.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace capture {

constexpr int kFormatVersion = 1;
constexpr const char* kFormatName = "vantrel-capture";

enum class Direction : uint8_t { kHostToDevice, kDeviceToHost };

enum class LinkKind : uint8_t { kUnknown, kUsb, kSerial };

struct Frame {
  int64_t us = 0;  // microseconds since the start of the capture
  Direction dir = Direction::kDeviceToHost;
  std::vector<uint8_t> bytes;
  bool operator==(const Frame&) const = default;
};

struct Header {
  int version = kFormatVersion;
  std::string program;  // "VantrelTool 2.4.6.3"
  LinkKind link = LinkKind::kUnknown;
  std::string linkDetail;  // after the kind: identity or serial line settings
  std::string firmware;    // version text, empty when not known
  std::string panel;       // "x=38 y=22 resolution=64 xrange=2432 yrange=1408"
  std::string start;       // ISO 8601, UTC
};

const char* LinkKindName(LinkKind kind);
// Longest frame a link carries in one direction (longer frames are refused).
int MaxFrameBytes(LinkKind kind, Direction dir);

// "2026-12-08T08:51:52.123456Z" for the current time.
std::string NowIso8601();

// The header lines, each ending in "\n".
std::string HeaderText(const Header& header);
// One "# key: value" line.
std::string HeaderLine(std::string_view key, std::string_view value);
// "<us> <H>D|D>H> <count> <hex>\n" appended to out.
void AppendFrameLine(std::string& out, int64_t us, Direction dir, const uint8_t* bytes, int len);

struct ParseResult {
  Header header;
  std::vector<Frame> frames;  // every frame before the first error
  std::string error;          // "line N: ..." when the text could not be read to its end
  int errorLine = 0;          // 1-based, 0 without error
  std::vector<std::string> warnings;
  bool Ok() const { return error.empty(); }
};

// Parses a whole capture text. A last line without its line end counts as cut off.
ParseResult ParseCapture(std::string_view text);

}  // namespace capture
