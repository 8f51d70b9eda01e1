// Delivers device notices to the registered callback on a thread of its own.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "hidpipe/hidpipe.h"

namespace hidpipe {

class NoticeHub {
 public:
  NoticeHub() = default;
  ~NoticeHub();
  NoticeHub(const NoticeHub&) = delete;
  NoticeHub& operator=(const NoticeHub&) = delete;

  // Registers fn (nullptr removes it and drops pending notices). Once this returns with
  // fn = nullptr, the old callback is not running and will not be called again (unless the
  // caller is the callback itself, which cannot wait for its own return).
  void setCallback(HidNoticeFn fn, void* user);
  bool hasCallback() const;

  // Notices waiting beyond this are dropped (a stalled callback must not grow memory).
  static constexpr size_t kMaxPending = 256;

  // Queues a notice for the callback; dropped when none is registered.
  void post(int event, std::string path);
  // A removal the library found itself (the node failed as a pulled device does): udev's
  // own removal of the same path, if it comes, is then not delivered a second time.
  void postGone(std::string path);
  // The path was opened again: its next removal is news.
  void forget(const std::string& path);

 private:
  void run();

  mutable std::mutex m_;
  std::condition_variable cv_;
  std::condition_variable idle_;
  HidNoticeFn fn_ = nullptr;
  void* user_ = nullptr;
  std::deque<std::pair<int, std::string>> pending_;
  std::set<std::string> gone_;  // removals posted by postGone, not yet heard from udev
  bool delivering_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace hidpipe
