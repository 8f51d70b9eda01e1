#include "capture/CaptureFormat.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <span>

#include "capture/HexCodec.h"

namespace capture {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Header values stay on their line: control characters become '?'.
std::string Clean(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Up to `max` blank-separated words; the count of words found (max + 1 when there are more).
int Split(std::string_view s, std::string_view* out, int max) {
  int n = 0;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    const size_t start = i;
    while (i < s.size() && !IsBlank(s[i])) ++i;
    if (i == start) break;
    if (n == max) return max + 1;
    out[n++] = s.substr(start, i - start);
  }
  return n;
}

int CountWords(std::string_view s) {
  std::string_view w[64];
  return Split(s, w, 64);
}

bool ParseDecimal(std::string_view s, int64_t& out, int maxDigits) {
  if (s.empty() || static_cast<int>(s.size()) > maxDigits) return false;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

bool AllDigits(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return !s.empty();
}

LinkKind KindFromWord(std::string_view word) {
  if (word == "usb") return LinkKind::kUsb;
  if (word == "serial") return LinkKind::kSerial;
  return LinkKind::kUnknown;
}

std::string Quoted(std::string_view s) {
  constexpr size_t kShown = 40;
  std::string out = "\"" + Clean(s.substr(0, kShown));
  if (s.size() > kShown) out += "...";
  return out + "\"";
}

constexpr const char* kNotCapture = "not a capture: the first line must be \"# vantrel-capture 1\"";

}  // namespace

LineParser::Kind LineParser::Fail(const std::string& what) {
  if (!error_.empty()) return Kind::kError;
  errorLine_ = std::max<int64_t>(lineNo_, 1);
  error_ = "line " + std::to_string(errorLine_) + ": " + what;
  return Kind::kError;
}

LineParser::Kind LineParser::Refuse(const std::string& what) {
  if (!error_.empty()) return Kind::kError;
  ++lineNo_;
  return Fail(what);
}

void LineParser::Warn(const std::string& what) {
  if (warnings_.size() < 100) warnings_.push_back("line " + std::to_string(lineNo_) + ": " + what);
}

std::vector<std::string> LineParser::TakeWarnings() {
  std::vector<std::string> out;
  out.swap(warnings_);
  return out;
}

void LineParser::Resume(int64_t lineNo, int64_t lastUs, LinkKind link) {
  versionSeen_ = true;
  lineNo_ = lineNo;
  lastUs_ = lastUs;
  header_.link = link;
  textWithoutFrame_ = 0;
}

void LineParser::CutOff() {
  if (!error_.empty()) error_ += " (the file ends in the middle of this line: cut off)";
}

void LineParser::End() {
  if (!versionSeen_) Fail("no \"# vantrel-capture 1\" line: not a capture");
}

LineParser::Kind LineParser::Feed(std::string_view line) {
  if (!error_.empty()) return Kind::kError;
  ++lineNo_;
  if (line.size() > kMaxLineBytes) {
    return Fail("longer than " + std::to_string(kMaxLineBytes) + " bytes: not a capture line");
  }
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const bool frameLine = !line.empty() && line.front() != '#' && !Trim(line).empty();
  if (!frameLine) {
    textWithoutFrame_ += line.size() + 1;
    if (textWithoutFrame_ > kMaxTextWithoutFrame) {
      return Fail("more than " + std::to_string(kMaxTextWithoutFrame >> 10) +
                  " KiB of header, comment and blank lines without a frame");
    }
    if (Trim(line).empty()) return Kind::kOther;
    return HeaderOrComment(line.substr(1));
  }
  if (!versionSeen_) return Fail(kNotCapture);
  return FrameLine(line);
}

LineParser::Kind LineParser::HeaderOrComment(std::string_view body) {
  body = Trim(body);
  if (!versionSeen_) {
    std::string_view w[2];
    if (Split(body, w, 2) != 2 || w[0] != kFormatName) return Fail(kNotCapture);
    int64_t version = 0;
    if (!ParseDecimal(w[1], version, 9) || version != kFormatVersion) {
      return Fail("unknown format version " + Quoted(w[1]) + " (this program reads " +
                  std::to_string(kFormatVersion) + ")");
    }
    header_.version = static_cast<int>(version);
    versionSeen_ = true;
    return Kind::kOther;
  }
  size_t keyEnd = 0;
  while (keyEnd < body.size() &&
         (std::islower(static_cast<unsigned char>(body[keyEnd])) ||
          std::isdigit(static_cast<unsigned char>(body[keyEnd])) || body[keyEnd] == '-')) {
    ++keyEnd;
  }
  if (keyEnd == 0 || keyEnd >= body.size() || body[keyEnd] != ':') return Kind::kOther;
  return Key(body.substr(0, keyEnd), Trim(body.substr(keyEnd + 1)));
}

LineParser::Kind LineParser::Key(std::string_view key, std::string_view value) {
  Header& h = header_;
  const bool late = frames_ > 0;
  if (key == "mark") {
    mark_ = value;
    return Kind::kMark;
  }
  if (key == "program") {
    if (!late) h.program = value;
  } else if (key == "link") {
    std::string_view first[1];
    const bool any = Split(value, first, 1) > 0;
    h.link = any ? KindFromWord(first[0]) : LinkKind::kUnknown;
    if (h.link == LinkKind::kUnknown && any && first[0] != "unknown") {
      Warn("unknown link kind " + Quoted(value));
    }
    h.linkDetail = any ? std::string(Trim(Trim(value).substr(first[0].size()))) : "";
  } else if (key == "firmware") {
    if (h.firmware.empty()) h.firmware = value;
  } else if (key == "panel") {
    if (h.panel.empty()) h.panel = value;
  } else if (key == "start") {
    if (!late) h.start = value;
  } else if (key == "columns") {
    // documentation for readers of the text
  } else if (std::find(warnedKeys_.begin(), warnedKeys_.end(), key) == warnedKeys_.end()) {
    if (warnedKeys_.size() < 64) warnedKeys_.emplace_back(key);
    Warn("unknown header key " + Quoted(key) + " skipped");
  }
  return Kind::kOther;
}

LineParser::Kind LineParser::FrameLine(std::string_view line) {
  std::string_view w[4];
  const int n = Split(line, w, 4);
  if (n != 4) {
    const int words = n <= 4 ? n : CountWords(line);
    return Fail("a frame line has 4 fields (time, direction, count, hex), this one has " +
                (words > 63 ? std::string("more") : std::to_string(words)));
  }
  int64_t us = 0;
  if (!ParseDecimal(w[0], us, kMaxTimeDigits)) {
    if (AllDigits(w[0])) {
      return Fail("bad time " + Quoted(w[0]) + ": longer than " + std::to_string(kMaxTimeDigits) +
                  " digits (about 31 years of microseconds)");
    }
    return Fail("bad time " + Quoted(w[0]));
  }
  if (us < lastUs_) {
    return Fail("time " + std::to_string(us) + " is earlier than the line before (" +
                std::to_string(lastUs_) + ")");
  }
  Direction dir;
  if (w[1] == "H>D") {
    dir = Direction::kHostToDevice;
  } else if (w[1] == "D>H") {
    dir = Direction::kDeviceToHost;
  } else {
    return Fail("the direction is H>D or D>H, not " + Quoted(w[1]));
  }
  int64_t count = 0;
  const int max = MaxFrameBytes(header_.link, dir);
  if (!ParseDecimal(w[2], count, 9) || count < 1) return Fail("bad byte count " + Quoted(w[2]));
  if (count > max) {
    return Fail("a frame of " + std::to_string(count) + " bytes is longer than a " +
                LinkKindName(header_.link) + " link carries (" + std::to_string(max) + ")");
  }
  const std::string_view hex = w[3];
  if (hex.size() != static_cast<size_t>(count) * 2) {
    return Fail(std::to_string(count) + " bytes announced, " + std::to_string(hex.size()) +
                " hex digits found");
  }
  for (int64_t i = 0; i < count; ++i) {
    const int hi = HexDigit(hex[2 * i]);
    const int lo = HexDigit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return Fail("bad hex digits " + Quoted(hex.substr(2 * i, 2)));
    frame_[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  frameUs_ = us;
  frameDir_ = dir;
  frameLen_ = static_cast<int>(count);
  lastUs_ = us;
  ++frames_;
  textWithoutFrame_ = 0;
  return Kind::kFrame;
}

void LineParser::CopyFrame(Frame& out) const {
  out.us = frameUs_;
  out.dir = frameDir_;
  out.bytes.assign(frame_, frame_ + frameLen_);
}

const char* LinkKindName(LinkKind kind) {
  switch (kind) {
    case LinkKind::kUsb:
      return "usb";
    case LinkKind::kSerial:
      return "serial";
    case LinkKind::kUnknown:
      break;
  }
  return "unknown";
}

int MaxFrameBytes(LinkKind kind, Direction dir) {
  // USB: one 64-byte input report; the host hands its link a 128-byte buffer.
  // Serial: the frame assembler's limit on decoded bytes.
  if (kind == LinkKind::kUsb) return dir == Direction::kDeviceToHost ? 64 : 128;
  return 4096;
}

std::string NowIso8601() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t secs = system_clock::to_time_t(now);
  const auto micros = duration_cast<microseconds>(now.time_since_epoch()).count() % 1000000;
  std::tm tm{};
  gmtime_r(&secs, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<long long>(micros));
  return buf;
}

std::string HeaderLine(std::string_view key, std::string_view value) {
  std::string out = "# ";
  out += key;
  out += ": ";
  out += Clean(value);
  out += "\n";
  return out;
}

std::string HeaderText(const Header& h) {
  std::string out = "# " + std::string(kFormatName) + " " + std::to_string(kFormatVersion) + "\n";
  out += HeaderLine("program", h.program);
  std::string link = LinkKindName(h.link);
  if (!h.linkDetail.empty()) link += " " + h.linkDetail;
  out += HeaderLine("link", link);
  out += HeaderLine("firmware", h.firmware);
  out += HeaderLine("panel", h.panel);
  out += HeaderLine("start", h.start);
  out += HeaderLine("columns", "us dir len hex");
  return out;
}

void AppendFrameLine(std::string& out, int64_t us, Direction dir, const uint8_t* bytes, int len) {
  char head[48];
  int n = std::snprintf(head, sizeof head, "%lld %s %d ", static_cast<long long>(us),
                        dir == Direction::kHostToDevice ? "H>D" : "D>H", len);
  out.append(head, static_cast<size_t>(n));
  AppendHex(out, std::span<const uint8_t>(bytes, static_cast<size_t>(len)));
  out.push_back('\n');
}

ParseResult ParseCapture(std::string_view text) {
  ParseResult r;
  LineParser p;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    const bool whole = end != std::string_view::npos;
    const std::string_view line = text.substr(pos, whole ? end - pos : std::string_view::npos);
    pos = whole ? end + 1 : text.size();
    const LineParser::Kind kind = p.Feed(line);
    if (kind == LineParser::Kind::kError) {
      if (!whole) p.CutOff();
      break;
    }
    TakeLine(kind, p, r);
  }
  FinishParse(p, r);
  return r;
}

void TakeLine(LineParser::Kind kind, const LineParser& p, ParseResult& r) {
  if (kind == LineParser::Kind::kFrame) {
    r.frames.emplace_back();
    p.CopyFrame(r.frames.back());
  } else if (kind == LineParser::Kind::kMark) {
    r.marks.push_back({r.frames.size(), p.MarkText()});
  }
}

void FinishParse(LineParser& p, ParseResult& r) {
  p.End();
  r.header = p.GetHeader();
  r.warnings = p.TakeWarnings();
  r.error = p.Error();
  r.errorLine = p.ErrorLine();
}

}  // namespace capture
