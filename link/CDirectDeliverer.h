// Runs everything on the calling thread (tests, benchmarks, tools without a UI).
#pragma once

#include "ITransDeliverer.h"

class CDirectDeliverer : public ITransDeliverer {
 public:
  bool RunSync(const std::function<void()>& fn) override {
    fn();
    return true;
  }
  void RunPending() override {}
  void Post(std::function<void()> fn) override { fn(); }
};
