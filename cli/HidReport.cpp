#include "cli/HidReport.h"

#include <cctype>
#include <cstdio>
#include <string_view>

using hidpipe::CollectionInfo;
using hidpipe::ReportInfo;

namespace {

constexpr size_t kFrameBytes = 64;

bool IsTextByte(uint8_t c) {
  return c == '\n' || c == '\r' || c == '\t' || (c >= 0x20 && c < 0x7F);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// One token of hexadecimal text: "0x05", "05", "5" or a run of pairs "050d0904".
bool DecodeToken(std::string_view token, std::vector<uint8_t>& bytes) {
  const bool prefixed = token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X');
  if (prefixed) token.remove_prefix(2);
  if (token.empty()) return false;
  for (char c : token)
    if (HexDigit(c) < 0) return false;
  if (token.size() <= 2) {
    bytes.push_back(static_cast<uint8_t>(token.size() == 1 ? HexDigit(token[0])
                                                           : HexDigit(token[0]) * 16 + HexDigit(token[1])));
    return true;
  }
  if (prefixed || token.size() % 2 != 0) return false;
  for (size_t i = 0; i < token.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(HexDigit(token[i]) * 16 + HexDigit(token[i + 1])));
  return true;
}

std::string Hex2(unsigned v) {
  char t[8];
  std::snprintf(t, sizeof t, "0x%02X", v & 0xFF);
  return t;
}

std::string Hex4(unsigned v) {
  char t[8];
  std::snprintf(t, sizeof t, "0x%04X", v & 0xFFFF);
  return t;
}

std::string CollectionName(const CollectionInfo& c) {
  if (c.vendor()) return "vendor-defined";
  switch (c.usagePage) {
    case 0x01:
      switch (c.usage) {
        case 0x01:
          return "pointer";
        case 0x02:
          return "mouse";
        case 0x06:
          return "keyboard";
        case 0x07:
          return "keypad";
        default:
          return "generic desktop";
      }
    case 0x0C:
      return "consumer";
    case 0x0D:
      switch (c.usage) {
        case 0x02:
          return "pen";
        case 0x04:
          return "touch screen";
        case 0x05:
          return "touch pad";
        default:
          return "digitizer";
      }
    default:
      return "other";
  }
}

std::string Size(size_t bytes) {
  return bytes == 0 ? "-" : std::to_string(bytes);
}

// 1-based number of the collection a report was first declared in, or "-".
std::string Where(const ReportInfo& r) {
  size_t c = r.inputCollection != hidpipe::kNoCollection ? r.inputCollection : r.outputCollection;
  if (c == hidpipe::kNoCollection) return "-";
  return std::to_string(c + 1);
}

std::string Pad(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

}  // namespace

bool DecodeDescriptor(std::span<const uint8_t> contents, std::vector<uint8_t>& bytes,
                      std::string& error) {
  bytes.clear();
  if (contents.empty()) {
    error = "empty file";
    return false;
  }
  bool text = true;
  for (uint8_t c : contents) text = text && IsTextByte(c);
  if (!text) {
    bytes.assign(contents.begin(), contents.end());
    return true;
  }
  const std::string_view all(reinterpret_cast<const char*>(contents.data()), contents.size());
  std::string_view body = all;
  // A recorder's dump: the descriptor is the "R:" line, after its length.
  for (size_t at = 0; at < all.size();) {
    size_t end = all.find('\n', at);
    if (end == std::string_view::npos) end = all.size();
    const std::string_view line = all.substr(at, end - at);
    if (line.substr(0, 2) == "R:") {
      body = line.substr(2);
      const size_t first = body.find_first_not_of(" \t");
      const size_t after = first == std::string_view::npos ? first : body.find_first_of(" \t", first);
      body = after == std::string_view::npos ? std::string_view() : body.substr(after);
      break;
    }
    at = end + 1;
  }
  size_t pos = 0;
  while (pos < body.size()) {
    const size_t start = body.find_first_not_of(" \t\r\n,", pos);
    if (start == std::string_view::npos) break;
    size_t end = body.find_first_of(" \t\r\n,", start);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view token = body.substr(start, end - start);
    if (!DecodeToken(token, bytes)) {
      const std::string shown(token.substr(0, 16));
      error = "not hexadecimal bytes: \"" + shown + (token.size() > 16 ? "...\"" : "\"") +
              " at character " + std::to_string(start + (body.data() - all.data()) + 1);
      bytes.clear();
      return false;
    }
    pos = end;
  }
  if (bytes.empty()) {
    error = "no bytes in the text";
    return false;
  }
  return true;
}

std::string DescriptorAnalysis::Reason() const {
  if (!parse.ok) return "report descriptor not understood: " + parse.error;
  return choice.ok ? "" : choice.problem;
}

DescriptorAnalysis AnalyseDescriptor(std::span<const uint8_t> bytes) {
  DescriptorAnalysis a;
  a.size = bytes.size();
  a.parse = hidpipe::parseReportDescriptor(bytes);
  if (a.parse.ok) a.choice = hidpipe::chooseLayout(a.parse.descriptor, kFrameBytes);
  return a;
}

std::string LayoutSummary(const hidpipe::ReportLayout& l) {
  std::string text = hidpipe::framingName(l);
  if (l.numbered)
    text += ", input id " + Hex2(l.inputId) + " " + std::to_string(l.inputBytes) +
            " bytes, output id " + Hex2(l.outputId) + " " + std::to_string(l.outputBytes) +
            " bytes";
  else
    text += ", input " + std::to_string(l.inputBytes) + " bytes, output " +
            std::to_string(l.outputBytes) + " bytes";
  return text;
}

std::string DescriptorText(const DescriptorAnalysis& a) {
  std::string out = "descriptor: " + std::to_string(a.size) + " bytes\n";
  const hidpipe::ReportDescriptor& d = a.parse.descriptor;
  if (a.parse.ok) {
    out += "collections:\n";
    if (d.topLevel.empty()) out += "  none\n";
    for (size_t i = 0; i < d.topLevel.size(); ++i) {
      const CollectionInfo& c = d.topLevel[i];
      out += "  " + Pad(std::to_string(i + 1), 3) + "usage page " + Hex4(c.usagePage) +
             ", usage " + Hex4(c.usage) + "  " + CollectionName(c) + "\n";
    }
    out += std::string("reports") + (d.numbered ? "" : " (unnumbered)") + ":\n";
    if (d.reports.empty()) out += "  none\n";
    else out += "  id    input  output  feature  collection\n";
    for (const ReportInfo& r : d.reports)
      out += "  " + Pad(d.numbered ? Hex2(r.id) : "-", 6) + Pad(Size(r.inputBytes), 7) +
             Pad(Size(r.outputBytes), 8) + Pad(Size(r.featureBytes), 9) + Where(r) + "\n";
  }
  for (const std::string& note : a.parse.skipped) out += note + "\n";
  if (a.Usable())
    out += "pipe: " + LayoutSummary(a.choice.layout) + "\n";
  else
    out += "pipe: refused: " + a.Reason() + "\n";
  return out;
}

nlohmann::json DescriptorJson(const DescriptorAnalysis& a) {
  using nlohmann::json;
  const hidpipe::ReportDescriptor& d = a.parse.descriptor;
  const hidpipe::ReportLayout& l = a.choice.layout;
  const bool usable = a.Usable();
  json j = {{"usable", usable},
            {"reason", a.Reason()},
            {"descriptor_size", a.size},
            {"numbered", a.parse.ok ? json(d.numbered) : json(nullptr)},
            {"framing", usable ? json(hidpipe::framingName(l)) : json(nullptr)},
            {"input_id", usable ? json(l.inputId) : json(nullptr)},
            {"input_size", usable ? json(l.inputBytes) : json(nullptr)},
            {"output_id", usable ? json(l.outputId) : json(nullptr)},
            {"output_size", usable ? json(l.outputBytes) : json(nullptr)}};
  json collections = json::array();
  for (const CollectionInfo& c : d.topLevel)
    collections.push_back({{"usage_page", c.usagePage},
                           {"usage", c.usage},
                           {"kind", CollectionName(c)}});
  json reports = json::array();
  for (const ReportInfo& r : d.reports) {
    const std::string where = Where(r);
    reports.push_back({{"id", r.id},
                       {"input", r.inputBytes},
                       {"output", r.outputBytes},
                       {"feature", r.featureBytes},
                       {"collection", where == "-" ? json(nullptr) : json(std::stoul(where))}});
  }
  j["collections"] = collections;
  j["reports"] = reports;
  j["skipped"] = a.parse.skipped;
  return j;
}
