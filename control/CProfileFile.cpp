#include "CProfileFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

#include "savefile/AtomicFile.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool IsComment(std::string_view trimmed) {
  return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

// Section name of a header line, or nullopt when the line is no header.
std::optional<std::string_view> HeaderName(std::string_view line) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  t.remove_prefix(1);
  size_t close = t.find(']');
  if (close != std::string_view::npos) t = t.substr(0, close);
  return Trim(t);
}

// Key of a "key=value" line, or nullopt.
std::optional<std::string_view> KeyName(std::string_view line) {
  std::string_view t = Trim(line);
  if (t.empty() || IsComment(t) || t.front() == '[') return std::nullopt;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  std::string_view key = Trim(t.substr(0, eq));
  if (key.empty()) return std::nullopt;
  return key;
}

std::string OneLine(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

std::string ErrnoText(int err) {
  return std::strerror(err);
}

}  // namespace

CProfileFile CProfileFile::Parse(std::string_view text) {
  CProfileFile f;
  bool eolKnown = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    Line line;
    if (nl == std::string_view::npos) {
      line.text.assign(text.substr(pos));
      pos = text.size();
    } else {
      size_t end = nl;
      line.eol = "\n";
      if (end > pos && text[end - 1] == '\r') {
        --end;
        line.eol = "\r\n";
      }
      line.text.assign(text.substr(pos, end - pos));
      pos = nl + 1;
      if (!eolKnown) {
        f.eol_ = line.eol;
        eolKnown = true;
      }
    }
    f.lines_.push_back(std::move(line));
  }
  return f;
}

bool CProfileFile::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
      *this = CProfileFile();
      return true;
    }
    if (error) *error = ErrnoText(errno);
    return false;
  }
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) {
    if (error) *error = "read error";
    return false;
  }
  *this = Parse(buf.str());
  return true;
}

std::optional<int> CProfileFile::ParseLeadingInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (v <= static_cast<long long>(INT_MAX) + 1) v = v * 10 + (text[i] - '0');
  }
  if (negative) v = -v;
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

size_t CProfileFile::FindSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    auto name = HeaderName(lines_[i].text);
    if (name && SameName(*name, section)) return i;
  }
  return std::string::npos;
}

size_t CProfileFile::SectionEnd(size_t header) const {
  for (size_t i = header + 1; i < lines_.size(); ++i) {
    if (HeaderName(lines_[i].text)) return i;
  }
  return lines_.size();
}

size_t CProfileFile::FindKey(size_t header, std::string_view key) const {
  size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    auto name = KeyName(lines_[i].text);
    if (name && SameName(*name, key)) return i;
  }
  return std::string::npos;
}

std::optional<std::string> CProfileFile::GetString(std::string_view section,
                                                   std::string_view key) const {
  size_t header = FindSection(section);
  if (header == std::string::npos) return std::nullopt;
  size_t at = FindKey(header, key);
  if (at == std::string::npos) return std::nullopt;
  std::string_view t = lines_[at].text;
  return std::string(Trim(t.substr(t.find('=') + 1)));
}

int CProfileFile::GetInt(std::string_view section, std::string_view key, int def) const {
  auto text = GetString(section, key);
  if (!text) return def;
  return ParseLeadingInt(*text).value_or(def);
}

void CProfileFile::SetInt(std::string_view section, std::string_view key, int value) {
  SetString(section, key, std::to_string(value));
}

const std::string& CProfileFile::NewLineEnd() const {
  return eol_;
}

void CProfileFile::InsertLine(size_t at, std::string text) {
  Line line{std::move(text), NewLineEnd()};
  if (at > 0 && lines_[at - 1].eol.empty()) {
    // The old last line had no line end: it gets one, the new last line goes without.
    lines_[at - 1].eol = NewLineEnd();
    line.eol.clear();
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void CProfileFile::SetString(std::string_view section, std::string_view key,
                             std::string_view value) {
  std::string v = OneLine(Trim(value));
  size_t header = FindSection(section);
  if (header == std::string::npos) {
    InsertLine(lines_.size(), "[" + OneLine(section) + "]");
    InsertLine(lines_.size(), OneLine(key) + "=" + v);
    return;
  }
  size_t at = FindKey(header, key);
  if (at != std::string::npos) {
    // Keep the key as written and the blanks after '='; replace the value only.
    std::string& text = lines_[at].text;
    size_t start = text.find('=') + 1;
    while (start < text.size() && IsBlank(text[start])) ++start;
    text = text.substr(0, start) + v;
    return;
  }
  size_t end = SectionEnd(header);
  size_t insertAt = header + 1;
  for (size_t i = header + 1; i < end; ++i) {
    if (KeyName(lines_[i].text)) insertAt = i + 1;
  }
  InsertLine(insertAt, OneLine(key) + "=" + v);
}

std::string CProfileFile::Text() const {
  std::string out;
  for (const Line& l : lines_) {
    out += l.text;
    out += l.eol;
  }
  return out;
}

bool CProfileFile::Save(const std::string& path, std::string* error) const {
  std::string message, cause;
  if (savefile::AtomicFile::Write(path, Text(), message, &cause)) return true;
  if (error) *error = cause;
  return false;
}
