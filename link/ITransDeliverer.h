// Hands work from the receive thread to the user-interface thread and waits for it.
#pragma once

#include <functional>

class ITransDeliverer {
 public:
  virtual ~ITransDeliverer() = default;
  // Runs fn on the user-interface thread and returns once it has run. Returns false
  // when it was not run because the deliverer is shutting down.
  virtual bool RunSync(const std::function<void()>& fn) = 0;
  // Called on the user-interface thread while it waits for the receive thread:
  // runs a hand-over that is waiting right now, so the two threads never wait on
  // each other.
  virtual void RunPending() = 0;
  // Runs fn on the user-interface thread later, without waiting (any thread). Deliverers
  // that cannot queue work run it as a hand-over.
  virtual void Post(std::function<void()> fn) { RunSync(fn); }
};
