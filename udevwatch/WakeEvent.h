// A file descriptor that poll() sees as readable once signalled (eventfd).
#pragma once

namespace udevwatch {

class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  int fd() const { return fd_; }
  void signal();
  void clear();

 private:
  int fd_;
};

}  // namespace udevwatch
