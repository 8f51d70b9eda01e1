#include "capture/CaptureSink.h"

#include <zstd.h>

#include <cerrno>
#include <cstring>

namespace capture {

namespace {
constexpr int kZstdLevel = 3;
}

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

bool CaptureSink::Write(std::string_view text) {
  if (file_ == nullptr || !error_.empty()) return false;
  if (zstd_ != nullptr) return Compress(text, ZSTD_e_continue);
  return Put(text.data(), text.size());
}

bool CaptureSink::Flush() {
  if (file_ == nullptr || !error_.empty()) return false;
  if (zstd_ != nullptr && !Compress({}, ZSTD_e_flush)) return false;
  if (std::fflush(file_) != 0) return Fail("cannot write", errno);
  return true;
}

bool CaptureSink::Close() {
  if (file_ == nullptr) return error_.empty();
  if (zstd_ != nullptr && error_.empty()) Compress({}, ZSTD_e_end);
  if (std::fclose(file_) != 0) Fail("cannot write", errno);
  file_ = nullptr;
  ZSTD_freeCCtx(zstd_);
  zstd_ = nullptr;
  return error_.empty();
}

}  // namespace capture
