// Runs deliveries from the receive thread on the user-interface thread and waits for them.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "link/CTransCtrl.h"

class CUiDeliverer : public QObject, public ITransDeliverer {
  Q_OBJECT

 public:
  // Lives on the thread that creates it (the user-interface thread).
  explicit CUiDeliverer(QObject* parent = nullptr);
  ~CUiDeliverer() override;

  bool RunSync(const std::function<void()>& fn) override;
  void RunPending() override;
  // Runs fn on the user-interface thread later, without waiting (any thread).
  void Post(std::function<void()> fn) override;

  // From now on RunSync returns false at once; calls not yet run are dropped.
  void Shutdown();
  bool IsShutDown() const;

 private:
  struct Call {
    const std::function<void()>* fn = nullptr;
    bool done = false;
    bool ran = false;
  };

  // The other threads only touch our own queues and wake the UI thread through an
  // event descriptor; no Qt object is used across threads.
  void Wake();
  void OnWake();

  int wakeFd_ = -1;
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> posted_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Call>> pending_;
  bool shutdown_ = false;
};
