// Records every frame of a session into a capture file. The link's threads only queue
// frames; a writer thread of its own formats and writes them, flushing at least every
// 100 ms. A full queue drops frames and counts them; a write error ends the recording.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/CaptureFormat.h"
#include "capture/CaptureSink.h"
#include "link/IFrameRecorder.h"
#include "link/TransTypes.h"

namespace capture {

class CCaptureRecorder : public IFrameRecorder {
 public:
  static constexpr size_t kDefaultCapacity = 1 << 16;  // frames waiting for the writer
  static constexpr size_t kMaxQueuedBytes = 32u << 20;
  static constexpr int kFlushMs = 100;

  struct Stats {
    bool active = false;
    std::string path;
    uint64_t frames = 0;  // written
    uint64_t dropped = 0;
    uint64_t bytesOnDisk = 0;
    std::string error;  // names the file; set when writing failed
  };

  explicit CCaptureRecorder(size_t capacity = kDefaultCapacity);
  ~CCaptureRecorder() override;
  CCaptureRecorder(const CCaptureRecorder&) = delete;
  CCaptureRecorder& operator=(const CCaptureRecorder&) = delete;

  // Starts a recording into path (".zst": compressed); header.start is filled in.
  // false with error set when the file cannot be created or one is running.
  bool Start(const std::string& path, Header header, std::string& error);
  // Writes what is queued, ends the file and stops; false when writing failed.
  bool Stop();
  bool IsActive() const;
  Stats GetStats() const;

  void OnLinkFrame(int linkType, bool toDevice, int64_t timeUs, const uint8_t* bytes,
                   int len) override;
  // A "# key: value" line between the frames queued so far and the next ones (what
  // became known while recording, such as the link's identity once it opened).
  void Note(const std::string& key, const std::string& value);

  static LinkKind KindOf(int linkType);
  static std::string PanelText(const PanelInfo& panel);

 private:
  struct Queued {
    int64_t timeUs;
    int linkType;
    bool toDevice;
    std::vector<uint8_t> bytes;
    std::string noteKey;  // a header line instead of a frame
    std::string noteValue;
  };
  void WriterLoop();
  void Format(const Queued& q, std::string& out);

  const size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Queued> queue_;
  size_t queuedBytes_ = 0;
  bool accepting_ = false;
  bool stop_ = false;
  Stats stats_;
  std::thread writer_;

  // Writer thread only.
  CaptureSink sink_;
  int64_t startUs_ = 0;
  int64_t lastUs_ = 0;
  Header written_;  // header values as last written
};

}  // namespace capture
