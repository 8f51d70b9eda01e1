// Where a capture's text goes: a plain file, or zstd when the name ends in ".zst". A
// compressed capture is a run of independent zstd frames of 2 MB of text each and, once
// closed, a seek table in a skippable frame at the end (zstd's seekable layout): `zstdcat`
// reads it whole, our reader starts at any frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

typedef struct ZSTD_CCtx_s ZSTD_CCtx;

namespace capture {

// True for names ending in ".zst".
bool IsCompressedName(const std::string& path);

class CaptureSink {
 public:
  CaptureSink() = default;
  ~CaptureSink();
  CaptureSink(const CaptureSink&) = delete;
  CaptureSink& operator=(const CaptureSink&) = delete;

  // Creates (or empties) the file. false with Error() set when it cannot.
  bool Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  // Each returns false once writing failed; Error() names the file and the reason.
  bool Write(std::string_view text);
  // Everything written so far reaches the file (a compressed stream is flushed to a
  // block boundary, so a reader can decompress it up to here).
  bool Flush();
  // Ends the compressed stream (writing the seek table) and closes the file.
  bool Close();

  uint64_t BytesOnDisk() const { return bytesOnDisk_; }
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }

 private:
  static constexpr size_t kFrameText = 2u << 20;  // text in one compressed frame

  bool Compress(std::string_view text, int mode);
  bool EndFrame();
  bool WriteSeekTable();
  bool Put(const void* data, size_t len);
  bool Fail(const char* what, int err);

  std::string path_;
  std::FILE* file_ = nullptr;
  ZSTD_CCtx* zstd_ = nullptr;
  std::vector<char> out_;
  uint64_t bytesOnDisk_ = 0;
  std::string error_;
  struct FrameSize {
    uint32_t compressed;
    uint32_t text;
  };
  std::vector<FrameSize> frames_;  // the compressed frames ended so far
  uint64_t frameStart_ = 0;        // bytes on disk where the open frame began
  size_t frameText_ = 0;           // text in the open frame
};

}  // namespace capture
