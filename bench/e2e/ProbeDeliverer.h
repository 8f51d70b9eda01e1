// Passes deliveries on to another deliverer and notes the CPU clock of the thread that
// hands them over: the transfer controller's receive thread.
#pragma once

#include <time.h>

#include <atomic>

#include "link/CTransCtrl.h"

class ProbeDeliverer : public ITransDeliverer {
 public:
  explicit ProbeDeliverer(ITransDeliverer& inner) : inner_(inner) {}

  bool RunSync(const std::function<void()>& fn) override;
  void RunPending() override { inner_.RunPending(); }
  void Post(std::function<void()> fn) override { inner_.Post(std::move(fn)); }

  // Forget the thread (a new Open starts a new one).
  void Forget() { known_.store(false); }
  bool Known() const { return known_.load(); }
  clockid_t ReceiveThreadClock() const { return clock_.load(); }

 private:
  ITransDeliverer& inner_;
  std::atomic<bool> known_{false};
  std::atomic<clockid_t> clock_{CLOCK_THREAD_CPUTIME_ID};
};
