// The process-wide first-in first-out queue of command strings that met a busy link.
// Appended to by the user-interface thread, emptied by the receive thread.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

class CPendingQueue {
 public:
  static CPendingQueue& Instance();

  void Push(std::string cmd);
  // Copies the first string; false when the queue is empty.
  bool Front(std::string& cmd) const;
  // Removes the first string if it is still `cmd` (it was sent or dropped).
  void PopFront(const std::string& cmd);
  bool Empty() const;
  size_t Size() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::deque<std::string> queue_;
};
