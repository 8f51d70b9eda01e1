#include "capture/HidRecording.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "capture/CaptureFormat.h"
#include "capture/CaptureSink.h"
#include "capture/FrameRules.h"
#include "capture/HexCodec.h"
#include "capture/TextSource.h"

namespace capture {

namespace {

// Usage page 0xFF00, application collection: 64 bytes in, 64 bytes out, no report ids.
constexpr uint8_t kUnnumbered64[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                                     0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01,
                                     0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0};
constexpr size_t kReportBytes = 64;
constexpr const char* kHeaderTag = "# vantrel: ";
constexpr const char* kOutputTag = "# O: ";
constexpr size_t kWriteChunk = 1u << 16;

bool IsFrameType(uint8_t b) {
  return b == 0x02 || (b >= 0xF1 && b <= 0xF5);
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

std::string LineError(int64_t line, const std::string& what) {
  return "line " + std::to_string(line) + ": " + what;
}

// "vid=227D pid=0102 ..." -> the value of one key, 0 when absent.
unsigned IdOf(const std::string& detail, const char* key) {
  const size_t at = detail.find(key);
  return at == std::string::npos ? 0u
                                 : static_cast<unsigned>(std::strtoul(
                                       detail.c_str() + at + std::strlen(key), nullptr, 16));
}

void AppendEvent(std::string& out, const char* tag, int64_t us, const uint8_t* bytes, size_t len) {
  char head[64];
  const int n = std::snprintf(head, sizeof head, "%s%06lld.%06lld %zu ", tag,
                              static_cast<long long>(us / 1000000),
                              static_cast<long long>(us % 1000000), len);
  out.append(head, static_cast<size_t>(n));
  AppendHex(out, std::span<const uint8_t>(bytes, len), ' ', true);
  out.push_back('\n');
}

std::string LinkText(const Header& h) {
  std::string link = LinkKindName(h.link);
  if (!h.linkDetail.empty()) link += " " + h.linkDetail;
  return link;
}

std::string HeaderComments(const Header& was, const Header& now, bool all) {
  std::string out;
  auto put = [&](const char* key, const std::string& a, const std::string& b) {
    if (all || a != b) out += kHeaderTag + HeaderLine(key, b).substr(2);
  };
  if (all) put("program", "", now.program);
  put("link", LinkText(was), LinkText(now));
  put("firmware", was.firmware, now.firmware);
  put("panel", was.panel, now.panel);
  if (all) put("start", "", now.start);
  return out;
}

// The USB identity of the capture: the first link line that gives one, in its first 4 MB
// (a recording may start before the link opened).
std::string IdentityOf(const std::string& path) {
  std::string error;
  auto source = OpenTextSource(path, error);
  if (!source) return "";
  LineReader lines(*source);
  LineParser p;
  bool ended = false;
  while (!ended && source->DiskPos() < (4u << 20)) {
    if (FeedNextLine(lines, *source, p, ended) == LineParser::Kind::kError) break;
    if (p.GetHeader().linkDetail.find("vid=") != std::string::npos) return p.GetHeader().linkDetail;
  }
  return "";
}

std::string Preamble(const Header& h, const std::string& identity, const std::string& program) {
  std::string out = "# " + program +
                    ": a capture as a HID recording. Device frames are input reports (E:),\n"
                    "# host frames output reports (# O:), in the unnumbered 64-byte layout.\n";
  out += HeaderComments(Header{}, h, true);
  const auto desc = Unnumbered64Descriptor();
  out += "D: 0\nR: " + std::to_string(desc.size()) + " ";
  AppendHex(out, desc, ' ', true);
  char ids[64];
  const unsigned vid = IdOf(identity, "vid="), pid = IdOf(identity, "pid=");
  std::snprintf(ids, sizeof ids, "I: 3 %04x %04x\n", vid & 0xFFFF, pid & 0xFFFF);
  out += "\nN: Touch panel controller " + std::string(ids + 5, 9) + "\nP: vantrel-capture\n";
  out += ids;
  return out;
}

class Writer {
 public:
  Writer(CaptureSink& out, const TextSource& source, const ConvertProgress& progress)
      : out_(out), source_(source), progress_(progress) {}
  std::string text;
  bool Spill(bool last, std::string& error) {
    if (!last && text.size() < kWriteChunk) return true;
    if (!out_.Write(text)) {
      error = out_.Error();
      return false;
    }
    text.clear();
    if (progress_ && source_.DiskSize() > 0) {
      progress_(double(source_.DiskPos()) / double(source_.DiskSize()));
    }
    return true;
  }

 private:
  CaptureSink& out_;
  const TextSource& source_;
  const ConvertProgress& progress_;
};

// "sec.usec" into microseconds.
bool ParseTime(std::string_view s, int64_t& us) {
  const size_t dot = s.find('.');
  if (dot == std::string_view::npos || dot == 0 || dot > 9 || s.size() - dot - 1 > 6 ||
      s.size() - dot - 1 == 0) {
    return false;
  }
  int64_t sec = 0, frac = 0;
  for (char c : s.substr(0, dot)) {
    if (c < '0' || c > '9') return false;
    sec = sec * 10 + (c - '0');
  }
  size_t digits = 0;
  for (char c : s.substr(dot + 1)) {
    if (c < '0' || c > '9') return false;
    frac = frac * 10 + (c - '0');
    ++digits;
  }
  for (; digits < 6; ++digits) frac *= 10;
  us = sec * 1000000 + frac;
  return true;
}

// "<count> <hex bytes>": the bytes, checked against the count.
bool ParseCounted(std::string_view s, Bytes& out, std::string& why) {
  const size_t blank = s.find(' ');
  const std::string_view count = s.substr(0, blank);
  size_t n = 0;
  if (count.empty() || count.size() > 5 ||
      !std::all_of(count.begin(), count.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    why = "bad byte count";
    return false;
  }
  for (char c : count) n = n * 10 + size_t(c - '0');
  if (!DecodeHex(blank == std::string_view::npos ? "" : s.substr(blank + 1), out, true)) {
    why = "bad hex bytes";
    return false;
  }
  if (out.size() != n) {
    why = std::to_string(n) + " bytes announced, " + std::to_string(out.size()) + " found";
    return false;
  }
  return true;
}

}  // namespace

std::span<const uint8_t> Unnumbered64Descriptor() {
  return kUnnumbered64;
}

bool LooksLikeCapture(const std::string& path) {
  std::string error;
  auto source = OpenTextSource(path, error);
  if (!source) return false;
  char head[512];
  const size_t n = source->Read(head, sizeof head);
  std::string_view text(head, n);
  while (!text.empty() && (text.front() == '\n' || text.front() == '\r' || text.front() == ' '))
    text.remove_prefix(1);
  return StartsWith(text, "# vantrel-capture");
}

bool CaptureToHidRecording(const std::string& in, CaptureSink& out, const std::string& program,
                           ConvertStats& stats, std::string& error,
                           const ConvertProgress& progress) {
  auto source = OpenTextSource(in, error);
  if (!source) return false;
  LineReader lines(*source);
  LineParser p;
  Writer w(out, *source, progress);
  Header written;
  bool started = false, ended = false;
  std::string pendingMarks;
  uint8_t report[kReportBytes];
  const std::string identity = IdentityOf(in);
  while (!ended) {
    const LineParser::Kind kind = FeedNextLine(lines, *source, p, ended);
    if (kind == LineParser::Kind::kError) break;
    if (kind == LineParser::Kind::kMark) {  // written before the frame it precedes
      pendingMarks += kHeaderTag + HeaderLine("mark", p.MarkText()).substr(2);
      continue;
    }
    if (kind != LineParser::Kind::kFrame) continue;
    w.text += started ? HeaderComments(written, p.GetHeader(), false)
                      : Preamble(p.GetHeader(), identity, program);
    written = p.GetHeader();
    started = true;
    w.text += pendingMarks;
    pendingMarks.clear();
    const size_t len = static_cast<size_t>(p.FrameLen());
    const uint8_t* bytes = p.FrameBytes();
    if (len > kReportBytes) {
      error = LineError(
          p.LineNo(), "a frame of " + std::to_string(len) + " bytes does not fit a 64-byte report");
      return false;
    }
    size_t n = len;
    if (FrameLength(bytes, len) == len) {  // padded on the wire, cut again when read back
      std::memcpy(report, bytes, len);
      std::memset(report + len, 0, kReportBytes - len);
      bytes = report;
      n = kReportBytes;
    }
    const bool host = p.FrameDir() == Direction::kHostToDevice;
    AppendEvent(w.text, host ? kOutputTag : "E: ", p.FrameUs(), bytes, n);
    ++stats.frames;
    if (!w.Spill(false, error)) return false;
  }
  p.End();
  if (!p.Error().empty()) {
    error = p.Error();
    return false;
  }
  if (!started) {
    error = "it holds no frames";
    return false;
  }
  return w.Spill(true, error);
}

namespace {

// A HID recording read line by line into capture text: the header from our own comments
// and the device lines, then those reports of the first device that are controller frames.
class RecordingReader {
 public:
  RecordingReader(Writer& w, ConvertStats& stats, const std::string& program)
      : w_(w), stats_(stats) {
    h_.program = program + " (from a HID recording)";
    h_.link = LinkKind::kUsb;
  }

  // The next line, without its line end; false with error when it cannot be read.
  bool Line(std::string_view line, std::string& error) {
    ++lineNo_;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (StartsWith(line, kHeaderTag)) {
      HeaderComment(line.substr(std::strlen(kHeaderTag)));
      return true;
    }
    const bool output = StartsWith(line, kOutputTag);
    const bool input = StartsWith(line, "E: ");
    if (!input && StartsWith(line, "E:")) {
      error = LineError(lineNo_, "an event line (E:) without its time and bytes");
      return false;
    }
    if (!output && !input) return DeviceLine(line, error);
    if (device_ != firstDevice_) return true;  // another device of a recording of several
    return Report(line.substr(input ? 3 : std::strlen(kOutputTag)), output, error);
  }

  int64_t LineNo() const { return lineNo_; }

  // After the last line: what is left to write.
  bool Finish(std::string& error) {
    if (!started_) {
      error = "no controller frames in it";
      return false;
    }
    w_.text += late_;
    return w_.Spill(true, error);
  }

 private:
  // "key: value" of our own header; after the first frame, or a mark, it waits for the next.
  void HeaderComment(std::string_view kv) {
    const size_t colon = kv.find(": ");
    if (colon == std::string_view::npos) return;
    const std::string key(kv.substr(0, colon)), value(kv.substr(colon + 2));
    if (started_ || key == "mark") {  // a mark goes before the next frame
      late_ += HeaderLine(key, value);
    } else if (key == "program") {
      h_.program = value;
    } else if (key == "link") {
      h_.link = value.rfind("serial", 0) == 0 ? LinkKind::kSerial
                : value.rfind("usb", 0) == 0  ? LinkKind::kUsb
                                              : LinkKind::kUnknown;
      const size_t blank = value.find(' ');
      h_.linkDetail = blank == std::string::npos ? "" : value.substr(blank + 1);
    } else if (key == "firmware") {
      h_.firmware = value;
    } else if (key == "panel") {
      h_.panel = value;
    } else if (key == "start") {
      h_.start = value;
    }
  }

  // The recorder's device lines: number, name, physical path, ids, report descriptor.
  bool DeviceLine(std::string_view line, std::string& error) {
    if (StartsWith(line, "D: ")) {
      device_ = std::atoi(std::string(line.substr(3)).c_str());
      if (firstDevice_ < 0) firstDevice_ = device_;
    } else if (StartsWith(line, "N: ")) {
      name_ = line.substr(3);
    } else if (StartsWith(line, "P: ")) {
      phys_ = line.substr(3);
    } else if (StartsWith(line, "I: ") && !started_) {
      unsigned bus = 0, vid = 0, pid = 0;
      const std::string ids(line.substr(3));
      if (std::sscanf(ids.c_str(), "%x %x %x", &bus, &vid, &pid) == 3 && h_.linkDetail.empty()) {
        char detail[40];
        std::snprintf(detail, sizeof detail, "vid=%04X pid=%04X", vid & 0xFFFF, pid & 0xFFFF);
        h_.linkDetail = detail;
      }
    } else if (StartsWith(line, "R: ")) {
      std::string why;
      if (!ParseCounted(line.substr(3), bytes_, why)) {
        error = LineError(lineNo_, "report descriptor: " + why);
        return false;
      }
      described_ = true;
    }
    return true;
  }

  // "<sec.usec> <count> <hex bytes>" of an input or output report.
  bool Report(std::string_view rest, bool output, std::string& error) {
    const size_t blank = rest.find(' ');
    int64_t us = 0;
    if (blank == std::string_view::npos || !ParseTime(rest.substr(0, blank), us)) {
      error = LineError(lineNo_, "bad time (seconds.microseconds)");
      return false;
    }
    std::string why;
    if (!ParseCounted(rest.substr(blank + 1), bytes_, why) || bytes_.empty()) {
      error = LineError(lineNo_, bytes_.empty() && why.empty() ? "an empty report" : why);
      return false;
    }
    if (!IsFrameType(bytes_[0])) {
      ++stats_.skipped;
      return true;
    }
    const Direction dir = output ? Direction::kHostToDevice : Direction::kDeviceToHost;
    const size_t len = RecordedLength(bytes_.data(), bytes_.size());
    if (len > static_cast<size_t>(MaxFrameBytes(h_.link, dir))) {
      error = LineError(lineNo_, "a frame of " + std::to_string(len) + " bytes is longer than a " +
                                     LinkKindName(h_.link) + " link carries");
      return false;
    }
    if (!started_) Start();
    w_.text += late_;
    late_.clear();
    // The recorder's times never go back; ours may not: such a frame keeps the time before.
    if (us < lastUs_)
      stats_.warnings.push_back(LineError(
          lineNo_, "time goes back " + std::to_string(lastUs_ - us) +
                       " us; the frame is kept at the time of the one before"));
    lastUs_ = std::max(lastUs_, us);
    AppendFrameLine(w_.text, lastUs_, dir, bytes_.data(), static_cast<int>(len));
    ++stats_.frames;
    return w_.Spill(false, error);
  }

  // The capture's header, before its first frame.
  void Start() {
    if (!described_)
      stats_.warnings.push_back(LineError(
          lineNo_, "no report descriptor (R:) before the first report: its reports are read "
                   "as controller frames as they stand"));
    w_.text = HeaderText(h_);
    if (!name_.empty() || !phys_.empty()) {
      w_.text += "# recorded with the HID tools' recorder from \"" + name_ + "\" at " + phys_ + "\n";
    }
    started_ = true;
  }

  Writer& w_;
  ConvertStats& stats_;
  Header h_;
  std::string name_, phys_, late_;
  int64_t lineNo_ = 0, lastUs_ = 0;
  int device_ = -1, firstDevice_ = -1;
  bool started_ = false, described_ = false;
  Bytes bytes_;
};

}  // namespace

bool HidRecordingToCapture(const std::string& in, CaptureSink& out, const std::string& program,
                           ConvertStats& stats, std::string& error,
                           const ConvertProgress& progress) {
  auto source = OpenTextSource(in, error);
  if (!source) return false;
  LineReader lines(*source);
  Writer w(out, *source, progress);
  RecordingReader reader(w, stats, program);
  for (;;) {
    std::string_view line;
    const LineReader::Result r = lines.Next(line);
    if (r == LineReader::Result::kEnd) break;
    if (r == LineReader::Result::kTooLong) {
      error = LineError(reader.LineNo() + 1,
                        "longer than " + std::to_string(kMaxLineBytes) + " bytes");
      return false;
    }
    if (r == LineReader::Result::kError) {
      error = LineError(reader.LineNo() + 1, source->Error());
      return false;
    }
    if (!reader.Line(line, error)) return false;
  }
  return reader.Finish(error);
}

}  // namespace capture
