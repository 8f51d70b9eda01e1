#include "sim/Trace.h"

#include <algorithm>

namespace tpcsim {

bool Trace::Open(const std::string& path, capture::Header header, std::string& error) {
  header.start = capture::NowIso8601();
  link_ = header.link;
  startUs_ = clock_.NowUs();
  if (!sink_.Open(path) || !sink_.Write(capture::HeaderText(header)) || !sink_.Flush()) {
    error = "cannot write trace file: " + sink_.Error();
    sink_.Close();
    return false;
  }
  return true;
}

void Trace::Write(capture::Direction dir, std::span<const uint8_t> bytes) {
  if (!sink_.IsOpen() || bytes.empty()) return;
  // The file stays readable: a frame longer than its link carries is cut to that length.
  const int len = std::min(static_cast<int>(bytes.size()), capture::MaxFrameBytes(link_, dir));
  line_.clear();
  capture::AppendFrameLine(line_, clock_.NowUs() - startUs_, dir, bytes.data(), len);
  if (sink_.Write(line_)) sink_.Flush();
}

}  // namespace tpcsim
