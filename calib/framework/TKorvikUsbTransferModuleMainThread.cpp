#include "TKorvikUsbTransferModuleMainThread.h"

#include <QMetaObject>
#include <QThread>

TKorvikUsbTransferModuleMainThread::TKorvikUsbTransferModuleMainThread()
    : FTarget(std::make_unique<QObject>()) {}

TKorvikUsbTransferModuleMainThread::~TKorvikUsbTransferModuleMainThread() {
  Cancel();
}

std::mutex& TKorvikUsbTransferModuleMainThread::HandOverMutex() {
  static std::mutex m;
  return m;
}

bool TKorvikUsbTransferModuleMainThread::IsMainThread() const {
  return QThread::currentThread() == FTarget->thread();
}

bool TKorvikUsbTransferModuleMainThread::Run(const std::function<void()>& step) {
  if (FCancelled.load()) return false;
  if (IsMainThread()) {
    step();
    return true;
  }
  // The call lives on the worker's stack; the posted call touches it only while the
  // worker still waits, which Cancel (main thread, so never during the call) ends.
  auto done = std::make_shared<bool>(false);
  const std::function<void()>* stepPtr = &step;
  // The worker holds the lock while posting (which writes the call's captures) and releases
  // it only by waiting; the call takes it before it reads a capture. So the order of the two
  // threads' work is also visible to tools that do not see inside the event queue.
  std::unique_lock<std::mutex> lock(HandOverMutex());
  QMetaObject::invokeMethod(
      FTarget.get(),
      [this, done, stepPtr] {
        {
          std::lock_guard<std::mutex> sync(HandOverMutex());
          if (FCancelled.load()) return;
        }
        (*stepPtr)();
        std::lock_guard<std::mutex> sync(HandOverMutex());
        *done = true;
        FDone.notify_all();
      },
      Qt::QueuedConnection);
  FDone.wait(lock, [&] { return *done || FCancelled.load(); });
  return *done;
}

void TKorvikUsbTransferModuleMainThread::Cancel() {
  std::lock_guard<std::mutex> lock(HandOverMutex());
  FCancelled.store(true);
  FDone.notify_all();
}
