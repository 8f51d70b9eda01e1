// Runs a step of the worker on the main thread and waits for it.
#pragma once

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class TKorvikUsbTransferModuleMainThread {
 public:
  // The thread that constructs the object is the main thread.
  TKorvikUsbTransferModuleMainThread();
  ~TKorvikUsbTransferModuleMainThread();
  TKorvikUsbTransferModuleMainThread(const TKorvikUsbTransferModuleMainThread&) = delete;
  TKorvikUsbTransferModuleMainThread& operator=(const TKorvikUsbTransferModuleMainThread&) = delete;

  // Runs step on the main thread (inline when already there) and waits until it ran.
  // Gives false, without running it, once Cancel was called.
  bool Run(const std::function<void()>& step);

  // Main thread only: hand-overs waiting now and later give up, so a join never deadlocks.
  void Cancel();

  bool IsMainThread() const;
  QObject* Target() const { return FTarget.get(); }

 private:
  // One lock for every hand-over (see Run): the posted call must take it before it reads
  // anything of its own, so it cannot live in the object.
  static std::mutex& HandOverMutex();

  std::unique_ptr<QObject> FTarget;
  std::condition_variable FDone;
  std::atomic<bool> FCancelled{false};
};
