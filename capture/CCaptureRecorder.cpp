#include "capture/CCaptureRecorder.h"

#include <chrono>

#include "capture/FrameRules.h"
#include "link/FrameCodec.h"

namespace capture {

CCaptureRecorder::CCaptureRecorder(size_t capacity) : capacity_(capacity) {}

CCaptureRecorder::~CCaptureRecorder() {
  Stop();
}

LinkKind CCaptureRecorder::KindOf(int linkType) {
  if (linkType == kLinkUsb) return LinkKind::kUsb;
  if (linkType == kLinkCom) return LinkKind::kSerial;
  return LinkKind::kUnknown;
}

std::string CCaptureRecorder::PanelText(const PanelInfo& p) {
  return "x=" + std::to_string(p.xCount) + " y=" + std::to_string(p.yCount) +
         " resolution=" + std::to_string(p.resolution) + " xrange=" + std::to_string(p.xRange) +
         " yrange=" + std::to_string(p.yRange);
}

bool CCaptureRecorder::Start(const std::string& path, Header header, std::string& error) {
  if (IsActive()) {
    error = "a recording is already running";
    return false;
  }
  Stop();  // joins a writer that ended on an error
  header.start = NowIso8601();
  if (!sink_.Open(path) || !sink_.Write(HeaderText(header)) || !sink_.Flush()) {
    error = sink_.Error();
    sink_.Close();
    return false;
  }
  written_ = header;
  startUs_ = RecorderClockUs();
  lastUs_ = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
    queuedBytes_ = 0;
    stop_ = false;
    accepting_ = true;
    stats_ = Stats{};
    stats_.active = true;
    stats_.path = path;
    stats_.bytesOnDisk = sink_.BytesOnDisk();
  }
  writer_ = std::thread([this] { WriterLoop(); });
  return true;
}

bool CCaptureRecorder::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    accepting_ = false;
    stop_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  stats_.active = false;
  return stats_.error.empty();
}

bool CCaptureRecorder::IsActive() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_.active && accepting_;
}

CCaptureRecorder::Stats CCaptureRecorder::GetStats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  Stats s = stats_;
  s.active = s.active && accepting_;
  return s;
}

void CCaptureRecorder::OnLinkFrame(int linkType, bool toDevice, int64_t timeUs,
                                   const uint8_t* bytes, int len) {
  if (bytes == nullptr || len <= 0) return;
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!accepting_) return;
    if (queue_.size() >= capacity_ || queuedBytes_ + size_t(len) > kMaxQueuedBytes) {
      ++stats_.dropped;
      return;
    }
    queue_.push_back(
        {timeUs, linkType, toDevice, std::vector<uint8_t>(bytes, bytes + len), {}, {}});
    queuedBytes_ += size_t(len);
    wake = queue_.size() == capacity_ / 2;
  }
  if (wake) wake_.notify_one();
}

void CCaptureRecorder::Note(const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (accepting_) queue_.push_back({0, kLinkNone, false, {}, key, value});
}

void CCaptureRecorder::Format(const Queued& q, std::string& out) {
  if (!q.noteKey.empty()) {
    out += HeaderLine(q.noteKey, q.noteValue);
    if (q.noteKey == "link") {
      const std::string kind = q.noteValue.substr(0, q.noteValue.find(' '));
      written_.link = kind == "usb"      ? LinkKind::kUsb
                      : kind == "serial" ? LinkKind::kSerial
                                         : LinkKind::kUnknown;
    }
    return;
  }
  const LinkKind kind = KindOf(q.linkType);
  if (kind != written_.link && kind != LinkKind::kUnknown) {
    written_.link = kind;
    out += HeaderLine("link", LinkKindName(kind));
  }
  // A serial link is handed STX, hexadecimal text, CR: the capture holds the frame.
  Bytes frame = kind == LinkKind::kSerial && q.toDevice
                    ? DecodeSerialPacket(q.bytes.data(), static_cast<int>(q.bytes.size()))
                    : q.bytes;
  const Direction dir = q.toDevice ? Direction::kHostToDevice : Direction::kDeviceToHost;
  const int max = MaxFrameBytes(kind, dir);
  // The frame's own length, not the buffer's the host handed its link.
  frame.resize(RecordedLength(frame.data(), frame.size()));
  if (frame.empty()) return;
  if (static_cast<int>(frame.size()) > max) frame.resize(static_cast<size_t>(max));
  // Times never go back, although writes and reads are stamped on two threads.
  lastUs_ = std::max(lastUs_, q.timeUs - startUs_);
  AppendFrameLine(out, lastUs_, dir, frame.data(), static_cast<int>(frame.size()));

  // What the controller tells about itself goes into the file as it arrives.
  const int len = static_cast<int>(frame.size());
  if (q.toDevice || len < 4 || frame[0] != 0x02 || frame[1] != 0x4C) return;
  if (frame[3] == 0x04) {
    std::string version;
    if (FrameCodec::ParseVersion(frame.data(), len, version) && version != written_.firmware) {
      written_.firmware = version;
      out += HeaderLine("firmware", version);
    }
  } else if (frame[3] == 0x06) {
    PanelInfo info;
    if (FrameCodec::ParsePanelInfo(frame.data(), len, info) == FrameCodec::PanelResult::kValid) {
      const std::string text = PanelText(info);
      if (text != written_.panel) {
        written_.panel = text;
        out += HeaderLine("panel", text);
      }
    }
  }
}

void CCaptureRecorder::WriterLoop() {
  std::vector<Queued> batch;
  std::string text;
  bool stopping = false;
  while (!stopping) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_for(lock, std::chrono::milliseconds(kFlushMs),
                     [this] { return stop_ || queue_.size() >= capacity_ / 2; });
      batch.swap(queue_);
      queuedBytes_ = 0;
      stopping = stop_;
    }
    if (batch.empty()) continue;
    text.clear();
    for (const Queued& q : batch) Format(q, text);
    const bool ok = sink_.Write(text) && sink_.Flush();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ok) {
      stats_.error = sink_.Error();
      accepting_ = false;
      break;
    }
    stats_.frames += batch.size();
    stats_.bytesOnDisk = sink_.BytesOnDisk();
    batch.clear();
  }
  const bool closed = sink_.Close();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!closed && stats_.error.empty()) stats_.error = sink_.Error();
  stats_.bytesOnDisk = sink_.BytesOnDisk();
  accepting_ = false;
}

}  // namespace capture
