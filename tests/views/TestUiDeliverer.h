// Runs deliveries on the test's (UI) thread and waits for them.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <functional>
#include <mutex>

#include "link/CTransCtrl.h"

class UiDeliverer : public ITransDeliverer {
 public:
  bool RunSync(const std::function<void()>& fn) override {
    if (QThread::currentThread() == qApp->thread()) {
      fn();
      return true;
    }
    // Qt's blocking call orders the two threads, but inside Qt where the thread sanitizer
    // cannot see it; passing through order_ on both sides makes that order visible.
    { std::lock_guard<std::mutex> lock(order_); }
    QMetaObject::invokeMethod(
        qApp,
        [this, &fn] {
          std::lock_guard<std::mutex> lock(order_);
          fn();
        },
        Qt::BlockingQueuedConnection);
    { std::lock_guard<std::mutex> lock(order_); }
    return true;
  }
  void RunPending() override { QCoreApplication::processEvents(); }
  void Post(std::function<void()> fn) override {
    QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection);
  }

 private:
  std::mutex order_;
};
