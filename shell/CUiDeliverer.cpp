#include "CUiDeliverer.h"

#include <QThread>

CUiDeliverer::CUiDeliverer(QObject* parent) : QObject(parent) {}

CUiDeliverer::~CUiDeliverer() {
  Shutdown();
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
    if (shutdown_) return false;
    pending_.push_back(call);
  }
  QMetaObject::invokeMethod(
      this, [this] { RunPending(); }, Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [&] { return call->done; });
  return call->ran;
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
  }
  cv_.notify_all();
}

bool CUiDeliverer::IsShutDown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shutdown_;
}
