#include "capture/CaptureFile.h"

#include "capture/TextSource.h"

namespace capture {

ParseResult LoadCapture(const std::string& path) {
  ParseResult whole;
  ParseResult r = ScanCapture(
      path,
      [&](const Frame& f) {
        whole.frames.push_back(f);
        return true;
      },
      [&](const std::string& text) { whole.marks.push_back({whole.frames.size(), text}); });
  r.frames = std::move(whole.frames);
  r.marks = std::move(whole.marks);
  return r;
}

ParseResult ScanCapture(const std::string& path, const std::function<bool(const Frame&)>& onFrame,
                        const std::function<void(const std::string&)>& onMark) {
  ParseResult r;
  std::unique_ptr<TextSource> source = OpenTextSource(path, r.error);
  if (!source) return r;
  LineReader lines(*source);
  LineParser p;
  Frame frame;
  bool ended = false;
  while (!ended) {
    const LineParser::Kind kind = FeedNextLine(lines, *source, p, ended);
    if (kind == LineParser::Kind::kError) break;
    if (kind == LineParser::Kind::kFrame) {
      p.CopyFrame(frame);
      if (!onFrame(frame)) {
        r.header = p.GetHeader();
        return r;
      }
    } else if (kind == LineParser::Kind::kMark && onMark) {
      onMark(p.MarkText());
    }
  }
  FinishParse(p, r);
  return r;
}

}  // namespace capture
