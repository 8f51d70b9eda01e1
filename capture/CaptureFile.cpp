#include "capture/CaptureFile.h"

#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "capture/CaptureSink.h"

namespace capture {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct DStreamFree {
  void operator()(ZSTD_DStream* d) const { ZSTD_freeDStream(d); }
};

bool Decompress(std::FILE* f, std::string& text, std::string& problem) {
  std::unique_ptr<ZSTD_DStream, DStreamFree> d(ZSTD_createDStream());
  if (!d) {
    problem = "cannot start decompression";
    return false;
  }
  std::vector<char> in(ZSTD_DStreamInSize());
  std::vector<char> out(ZSTD_DStreamOutSize());
  size_t pending = 0;  // non-zero while a compressed frame is unfinished
  bool any = false;
  for (;;) {
    const size_t got = std::fread(in.data(), 1, in.size(), f);
    if (got == 0) break;
    any = true;
    ZSTD_inBuffer ib{in.data(), got, 0};
    bool outputFull = false;
    // Output may still be held back when the input is used up but the buffer filled.
    while (ib.pos < ib.size || outputFull) {
      ZSTD_outBuffer ob{out.data(), out.size(), 0};
      pending = ZSTD_decompressStream(d.get(), &ob, &ib);
      if (ZSTD_isError(pending)) {
        problem =
            std::string("the compressed data is damaged (") + ZSTD_getErrorName(pending) + ")";
        return false;
      }
      text.append(out.data(), ob.pos);
      outputFull = ob.pos == ob.size;
    }
  }
  if (std::ferror(f)) {
    problem = std::string("read error: ") + std::strerror(errno);
    return false;
  }
  if (any && pending != 0) {
    problem = "the compressed stream ends early (a recording that was not stopped cleanly)";
    return false;
  }
  return true;
}

}  // namespace

bool ReadCaptureText(const std::string& path, std::string& text, std::string& problem) {
  text.clear();
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    problem = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  if (IsCompressedName(path)) return Decompress(f.get(), text, problem);
  char buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f.get())) > 0) text.append(buf, got);
  if (std::ferror(f.get())) {
    problem = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

ParseResult LoadCapture(const std::string& path) {
  std::string text;
  std::string problem;
  const bool whole = ReadCaptureText(path, text, problem);
  if (!whole && text.empty() && problem.rfind("cannot read", 0) == 0) {
    ParseResult r;
    r.error = problem;
    return r;
  }
  if (whole) return ParseCapture(text);
  // Only whole lines of a stream that broke off are read; the line after them is where
  // reading stopped.
  const size_t lastEnd = text.rfind('\n');
  text.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
  ParseResult r = ParseCapture(text);
  if (r.Ok()) {
    r.errorLine = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    r.error = "line " + std::to_string(r.errorLine) + ": " + problem;
  } else {
    r.error += "; " + problem;
  }
  return r;
}

}  // namespace capture
