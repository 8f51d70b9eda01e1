// Listener in slot 3 that reads the benchmark stamps of data reports: the sequence
// number (values 0 and 1) and tpcsim's send time (values 2 and 3, microseconds).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "link/CTransCtrl.h"

class SeqProbe : public ITransListener {
 public:
  explicit SeqProbe(CTransCtrl& ctrl) : ctrl_(ctrl) {}

  int OnTransCallback(const TransFrame& frame) override;

  // Also hands every data record to `view` (the busy UI's Wave Window).
  std::function<void(const DataRecord&)> view;

  struct Figures {
    int64_t delivered = 0;  // stamped data reports
    int64_t gaps = 0;       // sequence numbers skipped
    int64_t reordered = 0;  // sequence numbers at or below the last one seen
    double medianMs = 0;
    double p99Ms = 0;
    double maxMs = 0;
  };

  void Reset();
  int64_t Delivered() const { return delivered_.load(); }
  // Microseconds of the monotonic clock at the last delivery.
  int64_t LastDeliveryUs() const { return lastUs_.load(); }
  Figures Take();

 private:
  CTransCtrl& ctrl_;
  std::mutex m_;
  std::vector<uint32_t> latencyUs_;
  int64_t gaps_ = 0;
  int64_t reordered_ = 0;
  int64_t lastSeq_ = -1;
  std::atomic<int64_t> delivered_{0};
  std::atomic<int64_t> lastUs_{0};
};
