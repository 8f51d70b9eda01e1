#include "capture/TextSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "capture/CaptureFormat.h"
#include "capture/CaptureSink.h"

namespace capture {

namespace {

constexpr uint32_t kSkippableMagic = 0x184D2A5E;
constexpr uint32_t kSeekTableMagic = 0x8F92EAB1;
constexpr size_t kFooterBytes = 9;

uint32_t Le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// pread until `len` bytes or the end; -1 on an error.
ssize_t ReadAt(int fd, void* buf, size_t len, uint64_t at) {
  size_t got = 0;
  while (got < len) {
    const ssize_t n =
        ::pread(fd, static_cast<char*>(buf) + got, len - got, static_cast<off_t>(at + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

class PlainSource : public TextSource {
 public:
  PlainSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  bool Seek(uint64_t offset) override {
    pos_ = offset;
    return true;
  }
  size_t Read(char* buf, size_t cap) override {
    const ssize_t n = ReadAt(fd_.get(), buf, cap, pos_);
    if (n < 0) {
      error_ = std::string("read error: ") + std::strerror(errno);
      return 0;
    }
    pos_ += static_cast<uint64_t>(n);
    return static_cast<size_t>(n);
  }
  uint64_t DiskPos() const override { return std::min(pos_, size_); }
  uint64_t DiskSize() const override { return size_; }
  bool Seekable() const override { return true; }

 private:
  Fd fd_;
  uint64_t size_;
  uint64_t pos_ = 0;
};

class MemorySource : public TextSource {
 public:
  explicit MemorySource(std::shared_ptr<const std::string> text) : text_(std::move(text)) {}
  bool Seek(uint64_t offset) override {
    pos_ = std::min<uint64_t>(offset, text_->size());
    return true;
  }
  size_t Read(char* buf, size_t cap) override {
    const size_t n = std::min<size_t>(cap, text_->size() - pos_);
    std::memcpy(buf, text_->data() + pos_, n);
    pos_ += n;
    return n;
  }
  uint64_t DiskPos() const override { return pos_; }
  uint64_t DiskSize() const override { return text_->size(); }
  bool Seekable() const override { return true; }

 private:
  std::shared_ptr<const std::string> text_;
  uint64_t pos_ = 0;
};

// zstd frames one after the other. With a seek table a seek starts at the frame that holds
// the offset, and each frame must give exactly the text its table entry says; without one
// (another tool's file, a recording that was not stopped) a seek back starts over.
class ZstdSource : public TextSource {
 public:
  struct Entry {
    uint64_t disk;  // where the frame starts in the file
    uint64_t text;  // text offset of its first byte
    uint32_t textSize;
  };

  ZstdSource(int fd, uint64_t size) : fd_(fd), size_(size), dataEnd_(size), in_(1u << 17) {
    d_ = ZSTD_createDStream();
    ReadSeekTable();
  }
  ~ZstdSource() override { ZSTD_freeDStream(d_); }

  bool Seek(uint64_t offset) override {
    const bool failed = !error_.empty();
    error_.clear();
    if (!table_.empty()) {
      auto it = std::upper_bound(table_.begin(), table_.end(), offset,
                                 [](uint64_t o, const Entry& e) { return o < e.text; });
      const size_t i = it == table_.begin() ? 0 : size_t(it - table_.begin()) - 1;
      Restart(table_[i].disk, table_[i].text, i);
    } else if (offset < textPos_ || failed) {
      Restart(0, 0, 0);
    }
    skip_ = offset - textPos_;
    return true;
  }

  size_t Read(char* buf, size_t cap) override {
    char scratch[1 << 14];
    while (skip_ > 0) {
      const size_t n = Decompress(scratch, std::min<uint64_t>(skip_, sizeof scratch));
      if (n == 0) return 0;
      skip_ -= n;
    }
    return Decompress(buf, cap);
  }

  uint64_t DiskPos() const override { return diskPos_; }
  uint64_t DiskSize() const override { return size_; }
  bool Seekable() const override { return !table_.empty(); }

 private:
  void ReadSeekTable() {
    unsigned char foot[kFooterBytes];
    if (size_ < kFooterBytes + 8 || ReadAt(fd_.get(), foot, kFooterBytes, size_ - kFooterBytes) !=
                                        static_cast<ssize_t>(kFooterBytes)) {
      return;
    }
    if (Le32(foot + 5) != kSeekTableMagic || (foot[4] & 0x7C) != 0) return;
    const uint64_t frames = Le32(foot);
    const uint64_t entry = (foot[4] & 0x80) ? 12 : 8;
    const uint64_t tableBytes = frames * entry + kFooterBytes;
    if (tableBytes + 8 > size_) return;
    std::vector<unsigned char> raw(tableBytes + 8);
    const uint64_t at = size_ - tableBytes - 8;
    if (ReadAt(fd_.get(), raw.data(), raw.size(), at) != static_cast<ssize_t>(raw.size())) return;
    if (Le32(raw.data()) != kSkippableMagic || Le32(raw.data() + 4) != tableBytes) return;
    std::vector<Entry> table;
    table.reserve(frames);
    uint64_t disk = 0, text = 0;
    for (uint64_t i = 0; i < frames; ++i) {
      const unsigned char* e = raw.data() + 8 + i * entry;
      table.push_back({disk, text, Le32(e + 4)});
      disk += Le32(e);
      text += Le32(e + 4);
    }
    if (disk != at) return;  // the table does not describe this file: read it in order
    table_ = std::move(table);
    dataEnd_ = at;
  }

  void Restart(uint64_t disk, uint64_t text, size_t frame) {
    ZSTD_DCtx_reset(d_, ZSTD_reset_session_only);
    diskPos_ = disk;
    textPos_ = text;
    frame_ = frame;
    frameText_ = 0;
    inPos_ = inLen_ = 0;
    pending_ = 0;
    skip_ = 0;
  }

  size_t Fail(const std::string& what) {
    error_ = what;
    return 0;
  }

  size_t Decompress(char* buf, size_t cap) {
    if (!error_.empty() || d_ == nullptr) return 0;
    for (;;) {
      if (inPos_ == inLen_) {
        if (diskPos_ >= dataEnd_) {
          if (pending_ != 0) {
            return Fail("the compressed stream ends early at offset " + std::to_string(diskPos_) +
                        " (a recording that was not stopped cleanly)");
          }
          return 0;
        }
        const ssize_t n = ReadAt(fd_.get(), in_.data(),
                                 std::min<uint64_t>(in_.size(), dataEnd_ - diskPos_), diskPos_);
        if (n <= 0) return Fail(std::string("read error: ") + std::strerror(n < 0 ? errno : EIO));
        inLen_ = static_cast<size_t>(n);
        inPos_ = 0;
        diskPos_ += inLen_;
      }
      ZSTD_inBuffer ib{in_.data(), inLen_, inPos_};
      ZSTD_outBuffer ob{buf, cap, 0};
      pending_ = ZSTD_decompressStream(d_, &ob, &ib);
      inPos_ = ib.pos;
      if (ZSTD_isError(pending_)) {
        const uint64_t at = diskPos_ - inLen_ + inPos_;
        return Fail("the compressed data is damaged near offset " + std::to_string(at) + " (" +
                    ZSTD_getErrorName(pending_) + ")");
      }
      textPos_ += ob.pos;
      frameText_ += ob.pos;
      if (!table_.empty()) {
        const bool over = frame_ >= table_.size() || frameText_ > table_[frame_].textSize;
        const bool shortFrame = pending_ == 0 && frameText_ != table_[frame_].textSize;
        if (over || shortFrame) {
          return Fail("the compressed frame at offset " +
                      std::to_string(frame_ < table_.size() ? table_[frame_].disk : diskPos_) +
                      " holds other than the " +
                      std::to_string(frame_ < table_.size() ? table_[frame_].textSize : 0) +
                      " bytes its seek table gives");
        }
      }
      if (pending_ == 0) {
        ++frame_;
        frameText_ = 0;
      }
      if (ob.pos > 0) return ob.pos;
    }
  }

  Fd fd_;
  uint64_t size_;
  uint64_t dataEnd_;  // where the seek table begins
  std::vector<Entry> table_;
  ZSTD_DStream* d_ = nullptr;
  std::vector<char> in_;
  size_t inPos_ = 0;
  size_t inLen_ = 0;
  uint64_t diskPos_ = 0;
  uint64_t textPos_ = 0;
  uint64_t skip_ = 0;
  size_t frame_ = 0;
  uint64_t frameText_ = 0;
  size_t pending_ = 0;
};

}  // namespace

std::unique_ptr<TextSource> OpenTextSource(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    error = "cannot read " + path + ": " + std::strerror(S_ISDIR(st.st_mode) ? EISDIR : errno);
    ::close(fd);
    return nullptr;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  if (IsCompressedName(path)) return std::make_unique<ZstdSource>(fd, size);
  return std::make_unique<PlainSource>(fd, size);
}

std::unique_ptr<TextSource> MemoryTextSource(std::shared_ptr<const std::string> text) {
  return std::make_unique<MemorySource>(std::move(text));
}

LineReader::LineReader(TextSource& source) : source_(source), buf_(1u << 18) {}

void LineReader::Reset(uint64_t offset) {
  start_ = end_ = 0;
  bufOffset_ = lineOffset_ = offset;
  eof_ = false;
}

LineReader::Result LineReader::Next(std::string_view& line) {
  for (;;) {
    const char* base = buf_.data();
    const void* nl = std::memchr(base + start_, '\n', end_ - start_);
    lineOffset_ = bufOffset_ + start_;
    if (nl != nullptr) {
      const size_t at = static_cast<size_t>(static_cast<const char*>(nl) - base);
      line = std::string_view(base + start_, at - start_);
      start_ = at + 1;
      return Result::kLine;
    }
    if (end_ - start_ > kMaxLineBytes) return Result::kTooLong;
    if (eof_) {
      if (start_ == end_) return Result::kEnd;
      line = std::string_view(base + start_, end_ - start_);
      start_ = end_;
      return Result::kCutOff;
    }
    if (start_ > 0) {
      std::memmove(buf_.data(), base + start_, end_ - start_);
      bufOffset_ += start_;
      end_ -= start_;
      start_ = 0;
    }
    const size_t n = source_.Read(buf_.data() + end_, buf_.size() - end_);
    if (n == 0) {
      if (!source_.Error().empty()) return Result::kError;
      eof_ = true;
    }
    end_ += n;
  }
}

LineParser::Kind FeedNextLine(LineReader& lines, const TextSource& source, LineParser& parser,
                              bool& ended) {
  std::string_view line;
  switch (lines.Next(line)) {
    case LineReader::Result::kLine:
      return parser.Feed(line);
    case LineReader::Result::kCutOff: {
      ended = true;
      const LineParser::Kind kind = parser.Feed(line);
      if (kind == LineParser::Kind::kError) parser.CutOff();
      return kind;
    }
    case LineReader::Result::kEnd:
      ended = true;
      return LineParser::Kind::kOther;
    case LineReader::Result::kTooLong:
      return parser.Refuse("longer than " + std::to_string(kMaxLineBytes) + " bytes (at offset " +
                           std::to_string(lines.LineOffset()) + "): not a capture line");
    case LineReader::Result::kError:
      break;
  }
  return parser.Refuse(source.Error());
}

}  // namespace capture
