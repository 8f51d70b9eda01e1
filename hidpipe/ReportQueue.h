// A bounded queue of 64-byte reports, each with the number of its bytes that arrived, that
// drops the oldest report when full.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace hidpipe {

class ReportQueue {
 public:
  using Report = std::array<uint8_t, 64>;

  explicit ReportQueue(size_t capacity);

  // Adds a report of which received bytes arrived (1 to 64; the rest are zeros); ignored
  // while the queue is closed. When the queue is full, waits up to roomWaitMs for a reader
  // to make room, then drops the oldest report (counted). Returns false when a report was
  // dropped.
  // arrivedUs: when it arrived (steady clock, microseconds); 0 for now.
  bool push(const uint8_t* report, int roomWaitMs = 0, size_t received = 64, int64_t arrivedUs = 0);

  // Takes the oldest report into out (64 bytes) and, when received is given, how many of its
  // bytes arrived. Waits up to timeoutMs (negative: without limit) when the queue is empty.
  // Returns 1 for a report; 0 when none came in time or the wait was interrupted; -1 when
  // the queue is closed and empty.
  // arrivedUs, when given: when the report arrived.
  int pop(uint8_t* out, int timeoutMs, size_t* received = nullptr, int64_t* arrivedUs = nullptr);

  // Makes the pop that waits now, or the next one to wait, return 0 (once).
  void wake();

  // Makes waiting and future pops on an empty queue return 0 until clearInterrupt().
  void interrupt();
  void clearInterrupt();

  // No more reports will come: pops return what is left, then -1.
  void close();
  // Empties the queue, opens it, resets the drop count and forgets a wake.
  void reset();

  uint64_t dropped() const;
  size_t size() const;
  size_t capacity() const { return slots_.size(); }
  // The steady clock in microseconds, as arrival times are taken.
  static int64_t NowUs();

 private:
  mutable std::mutex m_;
  std::condition_variable notEmpty_;
  std::condition_variable notFull_;
  std::vector<Report> slots_;
  std::vector<uint8_t> received_;  // bytes that arrived, per slot
  std::vector<int64_t> arrived_;   // when, per slot
  size_t head_ = 0;
  size_t count_ = 0;
  uint64_t dropped_ = 0;
  bool closed_ = false;
  bool interrupted_ = false;
  bool woken_ = false;
};

}  // namespace hidpipe
