#include "capture/CaptureSink.h"

#include <zstd.h>

#include <cerrno>
#include <cstring>

namespace capture {

namespace {
constexpr int kZstdLevel = 3;
constexpr uint32_t kSkippableMagic = 0x184D2A5E;
constexpr uint32_t kSeekTableMagic = 0x8F92EAB1;

void PutLe32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
}  // namespace

bool IsCompressedName(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".zst") == 0;
}

CaptureSink::~CaptureSink() {
  Close();
}

bool CaptureSink::Open(const std::string& path) {
  Close();
  path_ = path;
  error_.clear();
  bytesOnDisk_ = 0;
  frames_.clear();
  frameStart_ = 0;
  frameText_ = 0;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return Fail("cannot create", errno);
  if (IsCompressedName(path)) {
    zstd_ = ZSTD_createCCtx();
    if (zstd_ == nullptr) return Fail("cannot start compression for", ENOMEM);
    ZSTD_CCtx_setParameter(zstd_, ZSTD_c_compressionLevel, kZstdLevel);
    ZSTD_CCtx_setParameter(zstd_, ZSTD_c_checksumFlag, 1);
    out_.resize(ZSTD_CStreamOutSize());
  }
  return true;
}

bool CaptureSink::Fail(const char* what, int err) {
  if (error_.empty()) error_ = std::string(what) + " " + path_ + ": " + std::strerror(err);
  return false;
}

bool CaptureSink::Put(const void* data, size_t len) {
  if (len == 0) return true;
  if (std::fwrite(data, 1, len, file_) != len) return Fail("cannot write", errno);
  bytesOnDisk_ += len;
  return true;
}

bool CaptureSink::Compress(std::string_view text, int mode) {
  ZSTD_inBuffer in{text.data(), text.size(), 0};
  const auto directive = static_cast<ZSTD_EndDirective>(mode);
  for (;;) {
    ZSTD_outBuffer out{out_.data(), out_.size(), 0};
    const size_t left = ZSTD_compressStream2(zstd_, &out, &in, directive);
    if (ZSTD_isError(left)) {
      error_ = "cannot compress " + path_ + ": " + ZSTD_getErrorName(left);
      return false;
    }
    if (!Put(out_.data(), out.pos)) return false;
    const bool done = directive == ZSTD_e_continue ? in.pos == in.size : left == 0;
    if (done) return true;
  }
}

bool CaptureSink::EndFrame() {
  if (frameText_ == 0) return true;
  if (!Compress({}, ZSTD_e_end)) return false;
  frames_.push_back({static_cast<uint32_t>(bytesOnDisk_ - frameStart_),
                     static_cast<uint32_t>(frameText_)});
  frameStart_ = bytesOnDisk_;
  frameText_ = 0;
  return true;
}

bool CaptureSink::WriteSeekTable() {
  std::string table;
  const uint32_t size = static_cast<uint32_t>(frames_.size() * 8 + 9);
  PutLe32(table, kSkippableMagic);
  PutLe32(table, size);
  for (const FrameSize& f : frames_) {
    PutLe32(table, f.compressed);
    PutLe32(table, f.text);
  }
  PutLe32(table, static_cast<uint32_t>(frames_.size()));
  table.push_back('\0');  // no checksums
  PutLe32(table, kSeekTableMagic);
  return Put(table.data(), table.size());
}

bool CaptureSink::Write(std::string_view text) {
  if (file_ == nullptr || !error_.empty()) return false;
  if (zstd_ == nullptr) return Put(text.data(), text.size());
  // Frames end between writes (a write is whole lines), so none splits a line.
  if (!Compress(text, ZSTD_e_continue)) return false;
  frameText_ += text.size();
  return frameText_ < kFrameText || EndFrame();
}

bool CaptureSink::Flush() {
  if (file_ == nullptr || !error_.empty()) return false;
  if (zstd_ != nullptr && !Compress({}, ZSTD_e_flush)) return false;
  if (std::fflush(file_) != 0) return Fail("cannot write", errno);
  return true;
}

bool CaptureSink::Close() {
  if (file_ == nullptr) return error_.empty();
  if (zstd_ != nullptr && error_.empty() && EndFrame()) WriteSeekTable();
  if (std::fclose(file_) != 0) Fail("cannot write", errno);
  file_ = nullptr;
  ZSTD_freeCCtx(zstd_);
  zstd_ = nullptr;
  return error_.empty();
}

}  // namespace capture
