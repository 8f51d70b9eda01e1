// A capture read as a stream: frames come from disk as they are needed and memory does
// not grow with the file. A background thread reads the whole file once and builds a
// sparse index (time to text offset, every kIndexEvery frames), the recorded answers to
// host commands, the duration and the first error; seeks become exact as it fills.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/CReplyIndex.h"
#include "capture/CaptureFormat.h"
#include "capture/TextSource.h"

namespace capture {

class CaptureCursor;

class CaptureReader : public std::enable_shared_from_this<CaptureReader> {
 public:
  static constexpr uint64_t kIndexEvery = 4096;  // frames between index points
  static constexpr uint64_t kHeadBytes = 1u << 20;  // text read before Open returns
  static constexpr size_t kMaxWarnings = 100;

  // Called on the indexing thread with each warning and (last = true) the error that ends
  // reading.
  using Notice = std::function<void(const std::string& text, bool last)>;

  // Opens the capture, reads its header and first frames (up to kHeadBytes of text) and
  // indexes the rest in the background. Null with error set when the file cannot be read
  // or holds no frame before its first error.
  static std::shared_ptr<CaptureReader> Open(const std::string& path, std::string& error,
                                             Notice notice = {});
  static std::shared_ptr<CaptureReader> FromText(std::string text, std::string& error);
  ~CaptureReader();
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  // The header as far as it was read when the capture opened (later `link` lines apply to
  // the frames after them; `firmware` and `panel` are the first ones found).
  const Header& GetHeader() const { return header_; }
  const std::string& Path() const { return path_; }

  struct Progress {
    double fraction = 0;  // of the file read by the indexer
    bool done = false;
    uint64_t textBytes = 0;      // text indexed so far
    uint64_t frames = 0;         // frames indexed so far
    uint64_t deviceFrames = 0;   // of them, device frames that are not answers
    int64_t durationUs = 0;      // time of the last frame indexed
    std::string error;           // the line reading stopped at, once found
    int64_t errorLine = 0;
    std::vector<std::string> warnings;
  };
  Progress GetProgress() const;
  int64_t DurationUs() const;
  // Waits up to ms for the indexer to finish; true when it has.
  bool WaitIndexed(int ms) const;

  // The recorded answer to a command at a time (see CReplyIndex); false when none.
  bool FindReply(const Bytes& command, int64_t us, Bytes& reply) const;

  // Frames in order from the first; a cursor reads its own copy of the file.
  std::unique_ptr<CaptureCursor> NewCursor() const;

 private:
  friend class CaptureCursor;
  struct Point {
    int64_t us;
    uint64_t offset;  // text offset of the frame line
    int64_t line;     // its line number
    LinkKind link;    // the link its frames are read for
  };

  CaptureReader(std::string path, std::shared_ptr<const std::string> text, Notice notice);
  std::unique_ptr<TextSource> NewSource(std::string& error) const;
  bool Start(std::string& error);
  void IndexLoop(std::unique_ptr<TextSource> source);
  // The last index point before `us` (the first point when none is); false when there is
  // none yet. `exact`: the index reaches past `us`.
  bool PointBefore(int64_t us, Point& out, bool& exact) const;

  const std::string path_;
  const std::shared_ptr<const std::string> text_;  // in memory instead of a file
  const Notice notice_;
  Header header_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Point> points_;
  CReplyIndex replies_;
  Progress progress_;
  std::atomic<bool> stop_{false};
  std::thread indexer_;
};

class CaptureCursor {
 public:
  // Moves to the first frame at or after `us`. While the index does not reach that far,
  // to the last place it knows. false when the file cannot be read there.
  bool Seek(int64_t us);
  // The next frame; false at the end or at a line that cannot be read (Error()).
  bool Next(Frame& out);
  const std::string& Error() const { return error_; }

 private:
  friend class CaptureReader;
  CaptureCursor(std::shared_ptr<const CaptureReader> reader, std::unique_ptr<TextSource> source);
  bool ReadFrame(Frame& out);

  std::shared_ptr<const CaptureReader> reader_;
  std::unique_ptr<TextSource> source_;
  LineReader lines_;
  LineParser parser_;
  Frame peeked_;
  bool havePeeked_ = false;
  bool ended_ = false;
  std::string error_;
};

}  // namespace capture
