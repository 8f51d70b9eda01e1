#include "capture/CaptureFormat.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <set>

namespace capture {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr int kMaxTimeDigits = 18;  // below 2^63

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
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
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> Words(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    size_t start = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

bool ParseDecimal(std::string_view s, int64_t& out, int maxDigits) {
  if (s.empty() || static_cast<int>(s.size()) > maxDigits) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
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

// Reads the text line by line; the first failure ends it.
class Parser {
 public:
  explicit Parser(ParseResult& r) : r_(r) {}

  void Run(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      const bool whole = end != std::string_view::npos;
      std::string_view line = text.substr(pos, whole ? end - pos : std::string_view::npos);
      pos = whole ? end + 1 : text.size();
      ++lineNo_;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (!Line(line) && !whole && !r_.error.empty()) {
        r_.error += " (the file ends in the middle of this line: cut off)";
      }
      if (!r_.error.empty()) return;
    }
    if (!versionSeen_) {
      lineNo_ = std::max(lineNo_, 1);
      Fail("no \"# vantrel-capture 1\" line: not a capture");
    }
  }

 private:
  bool Line(std::string_view line) {
    if (Trim(line).empty()) return true;
    if (line.front() == '#') return HeaderOrComment(line.substr(1));
    if (!versionSeen_) return Fail("not a capture: the first line must be \"# vantrel-capture 1\"");
    return FrameLine(line);
  }

  bool HeaderOrComment(std::string_view body) {
    body = Trim(body);
    if (!versionSeen_) {
      auto words = Words(body);
      if (words.size() != 2 || words[0] != kFormatName) {
        return Fail("not a capture: the first line must be \"# vantrel-capture 1\"");
      }
      int64_t version = 0;
      if (!ParseDecimal(words[1], version, 9) || version != kFormatVersion) {
        return Fail("unknown format version " + Quoted(words[1]) + " (this program reads " +
                    std::to_string(kFormatVersion) + ")");
      }
      r_.header.version = static_cast<int>(version);
      versionSeen_ = true;
      return true;
    }
    size_t keyEnd = 0;
    while (keyEnd < body.size() &&
           (std::islower(static_cast<unsigned char>(body[keyEnd])) ||
            std::isdigit(static_cast<unsigned char>(body[keyEnd])) || body[keyEnd] == '-')) {
      ++keyEnd;
    }
    if (keyEnd == 0 || keyEnd >= body.size() || body[keyEnd] != ':') return true;  // a comment
    Key(body.substr(0, keyEnd), Trim(body.substr(keyEnd + 1)));
    return true;
  }

  void Key(std::string_view key, std::string_view value) {
    Header& h = r_.header;
    const bool late = !r_.frames.empty();
    if (key == "program") {
      if (!late) h.program = value;
    } else if (key == "link") {
      auto words = Words(value);
      h.link = words.empty() ? LinkKind::kUnknown : KindFromWord(words[0]);
      if (h.link == LinkKind::kUnknown && !words.empty() && words[0] != "unknown") {
        Warn("unknown link kind " + Quoted(value));
      }
      h.linkDetail = words.empty() ? "" : std::string(Trim(value.substr(words[0].size())));
    } else if (key == "firmware") {
      if (h.firmware.empty()) h.firmware = value;
    } else if (key == "panel") {
      if (h.panel.empty()) h.panel = value;
    } else if (key == "start") {
      if (!late) h.start = value;
    } else if (key == "columns") {
      // documentation for readers of the text
    } else if (warnedKeys_.insert(std::string(key)).second) {
      Warn("unknown header key " + Quoted(key) + " skipped");
    }
  }

  bool FrameLine(std::string_view line) {
    auto words = Words(line);
    if (words.size() != 4) {
      return Fail("a frame line has 4 fields (time, direction, count, hex), this one has " +
                  std::to_string(words.size()));
    }
    Frame f;
    if (!ParseDecimal(words[0], f.us, kMaxTimeDigits)) return Fail("bad time " + Quoted(words[0]));
    if (f.us < lastUs_) {
      return Fail("time " + std::to_string(f.us) + " is earlier than the line before (" +
                  std::to_string(lastUs_) + ")");
    }
    if (words[1] == "H>D") {
      f.dir = Direction::kHostToDevice;
    } else if (words[1] == "D>H") {
      f.dir = Direction::kDeviceToHost;
    } else {
      return Fail("the direction is H>D or D>H, not " + Quoted(words[1]));
    }
    int64_t count = 0;
    const int max = MaxFrameBytes(r_.header.link, f.dir);
    if (!ParseDecimal(words[2], count, 9) || count < 1) {
      return Fail("bad byte count " + Quoted(words[2]));
    }
    if (count > max) {
      return Fail("a frame of " + std::to_string(count) + " bytes is longer than a " +
                  LinkKindName(r_.header.link) + " link carries (" + std::to_string(max) + ")");
    }
    std::string_view hex = words[3];
    if (hex.size() != static_cast<size_t>(count) * 2) {
      return Fail(std::to_string(count) + " bytes announced, " + std::to_string(hex.size()) +
                  " hex digits found");
    }
    f.bytes.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < f.bytes.size(); ++i) {
      int hi = HexDigit(hex[2 * i]);
      int lo = HexDigit(hex[2 * i + 1]);
      if (hi < 0 || lo < 0) return Fail("bad hex digits " + Quoted(hex.substr(2 * i, 2)));
      f.bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    lastUs_ = f.us;
    r_.frames.push_back(std::move(f));
    return true;
  }

  bool Fail(const std::string& what) {
    r_.errorLine = lineNo_;
    r_.error = "line " + std::to_string(lineNo_) + ": " + what;
    return false;
  }
  void Warn(const std::string& what) {
    r_.warnings.push_back("line " + std::to_string(lineNo_) + ": " + what);
  }

  ParseResult& r_;
  int lineNo_ = 0;
  bool versionSeen_ = false;
  int64_t lastUs_ = 0;
  std::set<std::string> warnedKeys_;
};

}  // namespace

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
  const size_t at = out.size();
  out.resize(at + static_cast<size_t>(len) * 2 + 1);
  char* p = out.data() + at;
  for (int i = 0; i < len; ++i) {
    *p++ = kHex[bytes[i] >> 4];
    *p++ = kHex[bytes[i] & 0x0F];
  }
  *p = '\n';
}

ParseResult ParseCapture(std::string_view text) {
  ParseResult r;
  Parser(r).Run(text);
  return r;
}

}  // namespace capture
