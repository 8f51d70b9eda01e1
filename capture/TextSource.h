// The text of a capture from any offset: a plain file, a compressed one (zstd frames,
// with or without a seek table), or text in memory. Memory stays bounded by the buffers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "capture/CaptureFormat.h"

namespace capture {

class TextSource {
 public:
  virtual ~TextSource() = default;
  // Reads from text offset `offset` on. false with Error() set.
  virtual bool Seek(uint64_t offset) = 0;
  // Up to cap bytes of text; 0 at the end or on an error (then Error() is set).
  virtual size_t Read(char* buf, size_t cap) = 0;
  // How far into the file reading has come and how long it is (bytes on disk), for progress.
  virtual uint64_t DiskPos() const = 0;
  virtual uint64_t DiskSize() const = 0;
  // A seek does not read from the start (plain files, compressed ones with a seek table).
  virtual bool Seekable() const = 0;
  const std::string& Error() const { return error_; }

 protected:
  std::string error_;
};

// The file's text: decompressed when the name ends in ".zst". Null with error set when it
// cannot be read.
std::unique_ptr<TextSource> OpenTextSource(const std::string& path, std::string& error);
std::unique_ptr<TextSource> MemoryTextSource(std::shared_ptr<const std::string> text);

// Lines of a source, each at most kMaxLineBytes long (longer ones are refused, never
// buffered whole).
class LineReader {
 public:
  enum class Result { kLine, kCutOff, kEnd, kTooLong, kError };

  explicit LineReader(TextSource& source);
  // After source.Seek(offset).
  void Reset(uint64_t offset);
  // The next line without its "\n" (kCutOff: the last one, without it).
  Result Next(std::string_view& line);
  // Text offset of the line Next returned.
  uint64_t LineOffset() const { return lineOffset_; }

 private:
  TextSource& source_;
  std::vector<char> buf_;
  size_t start_ = 0;
  size_t end_ = 0;
  uint64_t bufOffset_ = 0;  // text offset of buf_[0]
  uint64_t lineOffset_ = 0;
  bool eof_ = false;
};

// Feeds the next line of `lines` to the parser: a line too long or a stream that breaks
// off is the parser's error on that line. `ended` is set once the text ends.
LineParser::Kind FeedNextLine(LineReader& lines, const TextSource& source, LineParser& parser,
                              bool& ended);

}  // namespace capture
