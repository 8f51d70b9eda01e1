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
    if (kind == LineParser::Kind::kFrame) {
      r.frames.emplace_back();
      p.CopyFrame(r.frames.back());
    } else if (kind == LineParser::Kind::kError) {
      break;
    }
  }
  p.End();
  r.header = p.GetHeader();
  r.warnings = p.TakeWarnings();
  r.error = p.Error();
  r.errorLine = p.ErrorLine();
  return r;
}

}  // namespace capture
