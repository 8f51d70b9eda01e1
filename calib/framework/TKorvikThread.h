#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "calib/framework/TKorvikObj.h"

// Worker thread base. Created suspended: Start runs Execute on a new thread.
// Logs through its own object "KorvikThreadObj", built with the owner object as owner so it
// inherits that object's log sink. Subclasses must call Stop() in their destructor, before
// their own fields go away.
class TKorvikThread {
 public:
  explicit TKorvikThread(TKorvikObj* ownerObject);
  virtual ~TKorvikThread();

  TKorvikThread(const TKorvikThread&) = delete;
  TKorvikThread& operator=(const TKorvikThread&) = delete;

  void Start();
  // Asks Execute to return; it polls Terminated().
  void Terminate() { FTerminated.store(true); }
  bool Terminated() const { return FTerminated.load(); }
  // Waits until Execute has returned (no-op when never started or called on the worker itself).
  void WaitFor();
  // Terminate and WaitFor.
  void Stop();
  bool Started() const { return FThread.joinable(); }
  bool Finished() const { return FFinished.load(); }

  TKorvikObj* OwnerObject() const { return FOwnerObject.load(); }
  void SetOwnerObject(TKorvikObj* ownerObject) { FOwnerObject.store(ownerObject); }
  TKorvikObj* LogObject() const { return FLogObj.get(); }
  void Log(const std::string& text, std::uint8_t level) const;

 protected:
  virtual void Execute() = 0;

 private:
  std::atomic<TKorvikObj*> FOwnerObject;
  std::unique_ptr<TKorvikObj> FLogObj;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::thread FThread;
};
