// Writes to the device on a thread of its own, so that a caller waits a bounded time: a
// device whose transfers stall (the kernel gives up only after seconds) never holds the
// caller's thread, and a write that is still stuck is never started again on top of it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace hidpipe {

class ReportWriter {
 public:
  ReportWriter();
  // Joins the thread; one stuck in a write is left to end on its own.
  ~ReportWriter();
  ReportWriter(const ReportWriter&) = delete;
  ReportWriter& operator=(const ReportWriter&) = delete;

  // run's result when the job did not end in time (it goes on; a further job waits for it
  // as long as it may take, then is refused).
  static constexpr int kStillWriting = -1;
  // run's result when an earlier job outlasted the wait and this one was never begun.
  static constexpr int kRefused = -2;

  // Runs job (0 for success, else an errno) on the writer thread and waits up to waitMs
  // from the moment the job began (a busy host may be slow to run the thread; that is not
  // the device's time). Returns its result, kStillWriting or kRefused.
  int run(std::function<int()> job, int waitMs);
  // A write is still under way (stuck).
  bool busy() const;
  // The last job whose caller stopped waiting: kStillWriting while it runs, else its result.
  int late() const;

 private:
  // One job's result, kept by its caller: a later job's never takes its place.
  struct Outcome {
    int result = 0;
  };
  struct State {
    std::mutex m;
    std::condition_variable cv;
    std::function<int()> job;
    std::shared_ptr<Outcome> outcome;
    bool busy = false;
    bool stop = false;
    unsigned long started = 0, begun = 0, finished = 0;
    unsigned long abandoned = 0;  // the last job its caller stopped waiting for
    int lateResult = 0;           // and what it ended with
    std::chrono::steady_clock::time_point begunAt;
  };
  static void loop(std::shared_ptr<State> s);

  std::shared_ptr<State> s_ = std::make_shared<State>();
  std::thread thread_;
};

}  // namespace hidpipe
