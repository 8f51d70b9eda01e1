#include "capture/CaptureFile.h"

#include "capture/TextSource.h"

namespace capture {

ParseResult LoadCapture(const std::string& path) {
  ParseResult r;
  std::unique_ptr<TextSource> source = OpenTextSource(path, r.error);
  if (!source) return r;
  LineReader lines(*source);
  LineParser p;
  bool ended = false;
  while (!ended) {
    const LineParser::Kind kind = FeedNextLine(lines, *source, p, ended);
    if (kind == LineParser::Kind::kError) break;
    TakeLine(kind, p, r);
  }
  FinishParse(p, r);
  return r;
}

}  // namespace capture
