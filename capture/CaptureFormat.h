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

// Bounds on what a reader takes in: a longer line, or more header, comment and blank
// text between two frames, is refused (a frame of 4096 bytes is 8192 digits).
constexpr size_t kMaxLineBytes = 16384;
constexpr size_t kMaxTextWithoutFrame = 1u << 20;
// Times have at most 15 digits (about 31 years): arithmetic on them never overflows.
constexpr int kMaxTimeDigits = 15;
constexpr int64_t kMaxTimeUs = 999999999999999;

// Reads a capture line by line: the header, then frames. The first line it cannot read
// ends it with an error naming the line.
class LineParser {
 public:
  // kMark: a "# mark: text" line between frames (MarkText()).
  enum class Kind { kOther, kFrame, kMark, kError };

  // One line without its line end ("\r" is dropped). After kError, stays there.
  Kind Feed(std::string_view line);
  // The line count of a whole text: a last line without its line end is cut off.
  void CutOff();
  // A text that ends: without a format line it was not a capture.
  void End();
  // Carries on after a frame line known to be good (a reader starting at a known place).
  void Resume(int64_t lineNo, int64_t lastUs, LinkKind link);

  // The frame of the last kFrame (valid until the next Feed).
  int64_t FrameUs() const { return frameUs_; }
  Direction FrameDir() const { return frameDir_; }
  const uint8_t* FrameBytes() const { return frame_; }
  int FrameLen() const { return frameLen_; }
  void CopyFrame(Frame& out) const;
  // The text of the last kMark.
  const std::string& MarkText() const { return mark_; }

  bool VersionSeen() const { return versionSeen_; }
  int64_t LineNo() const { return lineNo_; }
  int64_t LastUs() const { return lastUs_; }
  uint64_t FrameCount() const { return frames_; }
  const Header& GetHeader() const { return header_; }
  LinkKind Link() const { return header_.link; }
  const std::string& Error() const { return error_; }
  int64_t ErrorLine() const { return errorLine_; }
  // Warnings since the last call.
  std::vector<std::string> TakeWarnings();
  // Ends reading with an error on the current line.
  Kind Fail(const std::string& what);
  // Ends reading with an error on the next line (one that could not be read whole).
  Kind Refuse(const std::string& what);

 private:
  Kind HeaderOrComment(std::string_view body);
  Kind Key(std::string_view key, std::string_view value);
  Kind FrameLine(std::string_view line);
  void Warn(const std::string& what);

  Header header_;
  int64_t lineNo_ = 0;
  bool versionSeen_ = false;
  int64_t lastUs_ = 0;
  uint64_t frames_ = 0;
  size_t textWithoutFrame_ = 0;
  std::vector<std::string> warnedKeys_;
  std::vector<std::string> warnings_;
  std::string error_;
  int64_t errorLine_ = 0;
  int64_t frameUs_ = 0;
  Direction frameDir_ = Direction::kDeviceToHost;
  int frameLen_ = 0;
  uint8_t frame_[4096];
  std::string mark_;
};

// A point a program marked in a session: the frames from `frame` on follow it.
struct Mark {
  size_t frame = 0;  // index of the first frame after the mark
  std::string text;
  bool operator==(const Mark&) const = default;
};

struct ParseResult {
  Header header;
  std::vector<Frame> frames;  // every frame before the first error
  std::vector<Mark> marks;
  std::string error;          // "line N: ..." when the text could not be read to its end
  int64_t errorLine = 0;      // 1-based, 0 without error
  std::vector<std::string> warnings;
  bool Ok() const { return error.empty(); }
};

// Parses a whole capture text. A last line without its line end counts as cut off.
ParseResult ParseCapture(std::string_view text);

// The two halves of a whole-file parse: what a line gave goes into r (a frame, a mark);
// at the end, what the parser ended with (header, warnings, error).
void TakeLine(LineParser::Kind kind, const LineParser& p, ParseResult& r);
void FinishParse(LineParser& p, ParseResult& r);

}  // namespace capture
