#include "CUiDeliverer.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QThread>

CUiDeliverer::CUiDeliverer(QObject* parent) : QObject(parent) {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ >= 0) {
    auto* notifier = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &CUiDeliverer::OnWake);
  }
}

CUiDeliverer::~CUiDeliverer() {
  Shutdown();
  if (wakeFd_ >= 0) close(wakeFd_);
}

void CUiDeliverer::Wake() {
  const uint64_t one = 1;
  if (wakeFd_ >= 0) [[maybe_unused]]
    const auto n = write(wakeFd_, &one, sizeof one);
}

void CUiDeliverer::OnWake() {
  uint64_t count = 0;
  [[maybe_unused]] const auto n = read(wakeFd_, &count, sizeof count);
  RunPending();
  for (;;) {
    std::function<void()> fn;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (posted_.empty() || shutdown_) return;
      fn = std::move(posted_.front());
      posted_.pop_front();
    }
    fn();
  }
}

bool CUiDeliverer::RunSync(const std::function<void()>& fn) {
  if (QThread::currentThread() == thread()) {
    if (IsShutDown()) return false;
    fn();
    return true;
  }
  auto call = std::make_shared<Call>();
  call->fn = &fn;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_ || wakeFd_ < 0) return false;
    pending_.push_back(call);
  }
  Wake();
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [&] { return call->done; });
  return call->ran;
}

void CUiDeliverer::Post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) return;
    posted_.push_back(std::move(fn));
  }
  Wake();
}

void CUiDeliverer::RunPending() {
  for (;;) {
    std::shared_ptr<Call> call;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (pending_.empty() || shutdown_) return;
      call = pending_.front();
      pending_.pop_front();
    }
    (*call->fn)();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      call->ran = true;
      call->done = true;
    }
    cv_.notify_all();
  }
}

void CUiDeliverer::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shutdown_ = true;
    for (auto& call : pending_) call->done = true;
    pending_.clear();
    posted_.clear();
  }
  cv_.notify_all();
}

bool CUiDeliverer::IsShutDown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shutdown_;
}
