#include "capture/CaptureReader.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace capture {

CaptureReader::CaptureReader(std::string path, std::shared_ptr<const std::string> text,
                             Notice notice)
    : path_(std::move(path)), text_(std::move(text)), notice_(std::move(notice)) {}

CaptureReader::~CaptureReader() {
  stop_ = true;
  if (indexer_.joinable()) indexer_.join();
}

std::shared_ptr<CaptureReader> CaptureReader::Open(const std::string& path, std::string& error,
                                                   Notice notice) {
  std::shared_ptr<CaptureReader> r(new CaptureReader(path, nullptr, std::move(notice)));
  return r->Start(error) ? r : nullptr;
}

std::shared_ptr<CaptureReader> CaptureReader::FromText(std::string text, std::string& error) {
  std::shared_ptr<CaptureReader> r(
      new CaptureReader("", std::make_shared<const std::string>(std::move(text)), {}));
  return r->Start(error) ? r : nullptr;
}

std::unique_ptr<TextSource> CaptureReader::NewSource(std::string& error) const {
  if (text_) return MemoryTextSource(text_);
  return OpenTextSource(path_, error);
}

bool CaptureReader::Start(std::string& error) {
  std::unique_ptr<TextSource> source = NewSource(error);
  if (!source) return false;
  indexer_ = std::thread([this, s = std::move(source)]() mutable { IndexLoop(std::move(s)); });
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] {
    return progress_.done || (progress_.frames > 0 && progress_.textBytes >= kHeadBytes);
  });
  if (progress_.frames > 0) return true;
  error = progress_.error.empty() ? "it holds no frames" : progress_.error;
  lock.unlock();
  stop_ = true;
  indexer_.join();
  return false;
}

void CaptureReader::IndexLoop(std::unique_ptr<TextSource> source) {
  LineReader lines(*source);
  LineParser p;
  OpenCommands open;
  uint64_t frames = 0;
  uint64_t device = 0;
  Bytes command;
  int64_t commandUs = 0;
  bool ended = false;
  std::vector<std::string> warnings;

  auto publish = [&](bool done) {
    std::lock_guard<std::mutex> lock(mutex_);
    progress_.frames = frames;
    progress_.deviceFrames = device;
    progress_.durationUs = p.LastUs();
    progress_.textBytes = lines.LineOffset();
    const uint64_t size = source->DiskSize();
    progress_.fraction = done || size == 0 ? 1.0 : double(source->DiskPos()) / double(size);
    for (std::string& w : warnings) {
      if (progress_.warnings.size() < kMaxWarnings) progress_.warnings.push_back(std::move(w));
    }
    if (progress_.frames == 0 || progress_.textBytes < kHeadBytes) header_ = p.GetHeader();
    if (done) {
      progress_.done = true;
      progress_.error = p.Error();
      progress_.errorLine = p.ErrorLine();
    }
    changed_.notify_all();
  };
  auto tell = [&](std::vector<std::string>&& list) {
    for (std::string& w : list) {
      if (notice_) notice_(w, false);
      warnings.push_back(std::move(w));
    }
  };

  while (!ended) {
    if (stop_.load(std::memory_order_relaxed)) break;
    const LineParser::Kind kind = FeedNextLine(lines, *source, p, ended);
    if (kind == LineParser::Kind::kError) break;
    if (kind == LineParser::Kind::kOther) {
      tell(p.TakeWarnings());
      continue;
    }
    if (kind != LineParser::Kind::kFrame) continue;
    const uint8_t* bytes = p.FrameBytes();
    const int len = p.FrameLen();
    if (frames % kIndexEvery == 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      points_.push_back({p.FrameUs(), lines.LineOffset(), p.LineNo(), p.Link()});
    }
    ++frames;
    if (p.FrameDir() == Direction::kHostToDevice) {
      open.Host(bytes, len, p.FrameUs());
    } else if (open.Answers(bytes, len, &command, &commandUs)) {
      std::lock_guard<std::mutex> lock(mutex_);
      replies_.Add(command, commandUs, bytes, len);
    } else {
      ++device;
    }
    if (frames % kIndexEvery == 0) publish(false);
  }
  if (ended) p.End();
  tell(p.TakeWarnings());
  if (!p.Error().empty() && notice_) notice_(p.Error(), true);
  publish(true);
}

CaptureReader::Progress CaptureReader::GetProgress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return progress_;
}

int64_t CaptureReader::DurationUs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return progress_.durationUs;
}

bool CaptureReader::WaitIndexed(int ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return progress_.done; });
}

bool CaptureReader::FindReply(const Bytes& command, int64_t us, Bytes& reply) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Bytes* found = replies_.Find(command, us);
  if (found == nullptr) return false;
  reply = *found;
  return true;
}

bool CaptureReader::PointBefore(int64_t us, Point& out, bool& exact) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (points_.empty()) return false;
  auto it = std::lower_bound(points_.begin(), points_.end(), us,
                             [](const Point& p, int64_t t) { return p.us < t; });
  out = it == points_.begin() ? points_.front() : *std::prev(it);
  exact = progress_.done || it != points_.end();
  return true;
}

std::unique_ptr<CaptureCursor> CaptureReader::NewCursor() const {
  std::string error;
  std::unique_ptr<TextSource> source = NewSource(error);
  std::unique_ptr<CaptureCursor> c(new CaptureCursor(shared_from_this(), std::move(source)));
  if (!c->source_) {
    c->error_ = error;
    c->ended_ = true;
    return c;
  }
  c->Seek(0);
  return c;
}

// ---------------------------------------------------------------- cursor

CaptureCursor::CaptureCursor(std::shared_ptr<const CaptureReader> reader,
                             std::unique_ptr<TextSource> source)
    : reader_(std::move(reader)),
      source_(std::move(source)),
      lines_(*source_) {}

bool CaptureCursor::Seek(int64_t us) {
  if (!source_) return false;
  CaptureReader::Point at{};
  bool exact = false;
  havePeeked_ = false;
  error_.clear();
  ended_ = false;
  if (!reader_->PointBefore(us, at, exact) || !source_->Seek(at.offset)) {
    ended_ = true;
    error_ = source_->Error();
    return false;
  }
  lines_.Reset(at.offset);
  parser_ = LineParser();
  parser_.Resume(at.line - 1, at.us, at.link);
  uint64_t budget = exact ? std::numeric_limits<uint64_t>::max() : 2 * CaptureReader::kIndexEvery;
  while (ReadFrame(peeked_)) {
    if (peeked_.us >= us || --budget == 0) {
      havePeeked_ = true;
      break;
    }
  }
  return error_.empty();
}

bool CaptureCursor::Next(Frame& out) {
  if (havePeeked_) {
    std::swap(out, peeked_);
    havePeeked_ = false;
    return true;
  }
  return ReadFrame(out);
}

bool CaptureCursor::ReadFrame(Frame& out) {
  while (!ended_) {
    const LineParser::Kind kind = FeedNextLine(lines_, *source_, parser_, ended_);
    if (kind == LineParser::Kind::kFrame) {
      parser_.CopyFrame(out);
      return true;
    }
    if (kind == LineParser::Kind::kError) {
      error_ = parser_.Error();
      ended_ = true;
    }
  }
  return false;
}

}  // namespace capture
