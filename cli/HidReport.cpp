#include "cli/HidReport.h"

#include <cctype>
#include <cstdio>
#include <new>
#include <string_view>

namespace {

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

std::string CollectionName(const HidCollectionDesc& c) {
  if (c.vendor) return "vendor-defined";
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
std::string Where(const HidReportDesc& r) {
  return r.collection < 0 ? "-" : std::to_string(r.collection + 1);
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

DescriptorAnalysis AnalyseDescriptor(std::span<const uint8_t> bytes) {
  DescriptorAnalysis a(hidAnalyseDescriptor(bytes.data(), bytes.size()), &hidFreeDescriptorAnalysis);
  if (!a) throw std::bad_alloc();
  return a;
}

std::string LayoutSummary(const HidPipeDesc& l) {
  std::string text = l.framing;
  if (l.numbered)
    text += ", input id " + Hex2(l.inputId) + " " + std::to_string(l.inputBytes) +
            " bytes, output id " + Hex2(l.outputId) + " " + std::to_string(l.outputBytes) +
            " bytes";
  else
    text += ", input " + std::to_string(l.inputBytes) + " bytes, output " +
            std::to_string(l.outputBytes) + " bytes";
  return text;
}

std::string DescriptorText(const HidDescriptorAnalysis& a) {
  std::string out = "descriptor: " + std::to_string(a.size) + " bytes\n";
  if (a.parsed) {
    out += "collections:\n";
    if (a.collectionCount == 0) out += "  none\n";
    for (size_t i = 0; i < a.collectionCount; ++i) {
      const HidCollectionDesc& c = a.collections[i];
      out += "  " + Pad(std::to_string(i + 1), 3) + "usage page " + Hex4(c.usagePage) +
             ", usage " + Hex4(c.usage) + "  " + CollectionName(c) + "\n";
    }
    out += std::string("reports") + (a.numbered ? "" : " (unnumbered)") + ":\n";
    if (a.reportCount == 0) out += "  none\n";
    else out += "  id    input  output  feature  collection\n";
    for (size_t i = 0; i < a.reportCount; ++i) {
      const HidReportDesc& r = a.reports[i];
      out += "  " + Pad(a.numbered ? Hex2(r.id) : "-", 6) + Pad(Size(r.inputBytes), 7) +
             Pad(Size(r.outputBytes), 8) + Pad(Size(r.featureBytes), 9) + Where(r) + "\n";
    }
  }
  for (size_t i = 0; i < a.skippedCount; ++i) out += std::string(a.skipped[i]) + "\n";
  if (a.usable)
    out += "pipe: " + LayoutSummary(a.pipe) + "\n";
  else
    out += "pipe: refused: " + std::string(a.reason) + "\n";
  return out;
}

nlohmann::json DescriptorJson(const HidDescriptorAnalysis& a) {
  using nlohmann::json;
  const HidPipeDesc& l = a.pipe;
  const bool usable = a.usable != 0;
  json j = {{"usable", usable},
            {"reason", a.reason},
            {"descriptor_size", a.size},
            {"numbered", a.parsed ? json(a.numbered != 0) : json(nullptr)},
            {"framing", usable ? json(l.framing) : json(nullptr)},
            {"input_id", usable ? json(l.inputId) : json(nullptr)},
            {"input_size", usable ? json(l.inputBytes) : json(nullptr)},
            {"output_id", usable ? json(l.outputId) : json(nullptr)},
            {"output_size", usable ? json(l.outputBytes) : json(nullptr)}};
  json collections = json::array();
  for (size_t i = 0; i < a.collectionCount; ++i) {
    const HidCollectionDesc& c = a.collections[i];
    collections.push_back({{"usage_page", c.usagePage},
                           {"usage", c.usage},
                           {"kind", CollectionName(c)}});
  }
  json reports = json::array();
  for (size_t i = 0; i < a.reportCount; ++i) {
    const HidReportDesc& r = a.reports[i];
    reports.push_back({{"id", r.id},
                       {"input", r.inputBytes},
                       {"output", r.outputBytes},
                       {"feature", r.featureBytes},
                       {"collection", r.collection < 0 ? json(nullptr) : json(r.collection + 1)}});
  }
  json skipped = json::array();
  for (size_t i = 0; i < a.skippedCount; ++i) skipped.push_back(a.skipped[i]);
  j["collections"] = collections;
  j["reports"] = reports;
  j["skipped"] = skipped;
  return j;
}
