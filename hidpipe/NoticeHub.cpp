#include "NoticeHub.h"

namespace hidpipe {

NoticeHub::~NoticeHub() {
  {
    std::lock_guard lk(m_);
    stop_ = true;
    fn_ = nullptr;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void NoticeHub::setCallback(HidNoticeFn fn, void* user) {
  std::unique_lock lk(m_);
  fn_ = fn;
  user_ = user;
  if (fn == nullptr) {
    pending_.clear();
    if (thread_.joinable() && std::this_thread::get_id() != thread_.get_id())
      idle_.wait(lk, [&] { return !delivering_; });
    return;
  }
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
}

bool NoticeHub::hasCallback() const {
  std::lock_guard lk(m_);
  return fn_ != nullptr;
}

void NoticeHub::post(int event, std::string path) {
  {
    std::lock_guard lk(m_);
    const bool heard = gone_.erase(path) > 0 && event == HIDPIPE_REMOVAL;
    if (heard || fn_ == nullptr || pending_.size() >= kMaxPending) return;
    pending_.emplace_back(event, std::move(path));
  }
  cv_.notify_one();
}

void NoticeHub::postGone(std::string path) {
  {
    std::lock_guard lk(m_);
    if (!gone_.insert(path).second) return;
    if (fn_ == nullptr || pending_.size() >= kMaxPending) return;
    pending_.emplace_back(HIDPIPE_REMOVAL, std::move(path));
  }
  cv_.notify_one();
}

void NoticeHub::forget(const std::string& path) {
  std::lock_guard lk(m_);
  gone_.erase(path);
}

void NoticeHub::run() {
  std::unique_lock lk(m_);
  for (;;) {
    cv_.wait(lk, [&] { return stop_ || !pending_.empty(); });
    if (stop_) return;
    auto [event, path] = std::move(pending_.front());
    pending_.pop_front();
    if (fn_ == nullptr) continue;
    HidNoticeFn fn = fn_;
    void* user = user_;
    delivering_ = true;
    lk.unlock();
    fn(event, path.c_str(), user);
    lk.lock();
    delivering_ = false;
    idle_.notify_all();
  }
}

}  // namespace hidpipe
