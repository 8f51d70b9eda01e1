// A profile file ("[section]" headers, "key=value" lines) read and rewritten in place.
//
// Sections and keys compare without regard to ASCII case; the first matching section
// and the first matching key in it win. Lines starting with ';' or '#' are comments.
// Every line keeps its own bytes and line end; writing a key changes that line only.
// A new key goes after the last key of its section, a new section at the end of the
// file. New lines take the file's line end (the first one found, LF for a new file).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CProfileFile {
 public:
  CProfileFile() = default;

  // Parses text of any bytes.
  static CProfileFile Parse(std::string_view text);

  // Reads path. A missing file gives an empty profile and true; a file that exists but
  // cannot be read gives false with error set.
  bool Load(const std::string& path, std::string* error = nullptr);

  // Integer value: optional blanks, an optional sign, then the leading decimal digits;
  // text after them is ignored. Values beyond the int range saturate. A missing key or
  // a value without leading digits gives def.
  int GetInt(std::string_view section, std::string_view key, int def) const;
  // Raw value text with surrounding blanks removed; nullopt when the key is missing.
  std::optional<std::string> GetString(std::string_view section, std::string_view key) const;

  void SetInt(std::string_view section, std::string_view key, int value);
  void SetString(std::string_view section, std::string_view key, std::string_view value);

  // The whole file as it would be written.
  std::string Text() const;

  // Writes the file whole: a temporary file beside it, then a rename over the old one.
  // On failure the old file is left as it was and error names the reason.
  bool Save(const std::string& path, std::string* error = nullptr) const;

  // Parses an integer the way GetInt does; nullopt when no digit leads the text.
  static std::optional<int> ParseLeadingInt(std::string_view text);

 private:
  struct Line {
    std::string text;  // without its line end
    std::string eol;   // "\n", "\r\n" or "" (last line without an end)
  };

  // Index of the header line of the first matching section, or npos.
  size_t FindSection(std::string_view section) const;
  // Index of the first line holding key within the section starting at header, or npos.
  size_t FindKey(size_t header, std::string_view key) const;
  size_t SectionEnd(size_t header) const;
  const std::string& NewLineEnd() const;
  void InsertLine(size_t at, std::string text);

  std::vector<Line> lines_;
  std::string eol_ = "\n";  // line end for new lines
};
