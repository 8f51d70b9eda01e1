#include "ReportWriter.h"

#include <chrono>

namespace hidpipe {

namespace {
// How long a loaded host may take to run the writer thread at all.
constexpr int kStartWaitMs = 5000;
}  // namespace

ReportWriter::ReportWriter() : thread_([s = s_] { loop(s); }) {}

ReportWriter::~ReportWriter() {
  bool stuck;
  {
    std::lock_guard lk(s_->m);
    s_->stop = true;
    stuck = s_->busy;
  }
  s_->cv.notify_all();
  // The thread keeps the state alive; a job stuck in the kernel ends with the process.
  if (stuck)
    thread_.detach();
  else
    thread_.join();
}

int ReportWriter::run(std::function<int()> job, int waitMs) {
  std::unique_lock lk(s_->m);
  // Another thread's write under way: it is waited for as long as it may take, and only a
  // write that outlasts that is a device that takes nothing.
  while (s_->busy) {
    if (s_->begun < s_->started) {
      if (!s_->cv.wait_for(lk, std::chrono::milliseconds(kStartWaitMs),
                           [&] { return !s_->busy || s_->begun >= s_->started; }))
        return kRefused;
      continue;
    }
    if (!s_->cv.wait_until(lk, s_->begunAt + std::chrono::milliseconds(waitMs),
                           [&] { return !s_->busy; }))
      return kRefused;
  }
  auto outcome = std::make_shared<Outcome>();
  s_->job = std::move(job);
  s_->outcome = outcome;
  s_->busy = true;
  const unsigned long ticket = ++s_->started;
  s_->cv.notify_all();
  // The thread is given its time to start; the device its waitMs from there.
  const auto ready = [&] { return s_->begun >= ticket; };
  const bool done =
      s_->cv.wait_for(lk, std::chrono::milliseconds(kStartWaitMs), ready) &&
      s_->cv.wait_until(lk, s_->begunAt + std::chrono::milliseconds(waitMs),
                        [&] { return s_->finished >= ticket; });
  if (done) return outcome->result;
  s_->abandoned = ticket;
  return kStillWriting;
}

int ReportWriter::late() const {
  std::lock_guard lk(s_->m);
  if (s_->abandoned > s_->finished) return kStillWriting;
  return s_->lateResult;
}

bool ReportWriter::busy() const {
  std::lock_guard lk(s_->m);
  return s_->busy;
}

void ReportWriter::loop(std::shared_ptr<State> s) {
  std::unique_lock lk(s->m);
  for (;;) {
    s->cv.wait(lk, [&] { return s->stop || s->finished < s->started; });
    if (s->finished >= s->started) return;  // stop, nothing left to write
    std::function<int()> job = std::move(s->job);
    std::shared_ptr<Outcome> outcome = std::move(s->outcome);
    s->begun = s->started;
    s->begunAt = std::chrono::steady_clock::now();
    s->cv.notify_all();
    lk.unlock();
    const int result = job();
    lk.lock();
    outcome->result = result;
    s->busy = false;
    if (++s->finished == s->abandoned) s->lateResult = result;
    s->cv.notify_all();
  }
}

}  // namespace hidpipe
