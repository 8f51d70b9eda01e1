// Arrival and removal of serial devices (USB serial adapters, on-board ports), heard from
// udev on a thread of its own. Pseudo-terminals send nothing; the program also retries a
// serial link that is down.
#pragma once

#include <functional>
#include <thread>

struct udev;
struct udev_monitor;

class CSerialDeviceWatch {
 public:
  // onChange runs on the watch's thread for every tty device added or removed.
  explicit CSerialDeviceWatch(std::function<void()> onChange);
  ~CSerialDeviceWatch();
  CSerialDeviceWatch(const CSerialDeviceWatch&) = delete;
  CSerialDeviceWatch& operator=(const CSerialDeviceWatch&) = delete;

  // False when udev cannot be reached (no notices then; the retry still works).
  bool Start();
  void Stop();

 private:
  void Run();

  std::function<void()> onChange_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  int stopFd_ = -1;
  std::thread thread_;
};
