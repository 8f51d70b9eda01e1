#include "ReportWriter.h"

#include <chrono>

namespace hidpipe {

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
  if (s_->busy) return kStillWriting;
  s_->job = std::move(job);
  s_->busy = true;
  const unsigned long ticket = ++s_->started;
  s_->cv.notify_all();
  const bool done = s_->cv.wait_for(lk, std::chrono::milliseconds(waitMs),
                                    [&] { return s_->finished >= ticket; });
  return done ? s_->result : kStillWriting;
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
    lk.unlock();
    const int result = job();
    lk.lock();
    s->result = result;
    s->busy = false;
    ++s->finished;
    s->cv.notify_all();
  }
}

}  // namespace hidpipe
