#include "CPendingQueue.h"

CPendingQueue& CPendingQueue::Instance() {
  static CPendingQueue queue;
  return queue;
}

void CPendingQueue::Push(std::string cmd) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(std::move(cmd));
}

bool CPendingQueue::Front(std::string& cmd) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) return false;
  cmd = queue_.front();
  return true;
}

void CPendingQueue::PopFront(const std::string& cmd) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!queue_.empty() && queue_.front() == cmd) queue_.pop_front();
}

bool CPendingQueue::Empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.empty();
}

size_t CPendingQueue::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

void CPendingQueue::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.clear();
}
