// Arrival and removal of serial devices (USB serial adapters, on-board ports), heard from
// udev on a thread of its own. Pseudo-terminals send nothing; the program also retries a
// serial link that is down.
#pragma once

#include <functional>

#include "udevwatch/UdevWatch.h"

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
  std::function<void()> onChange_;
  udevwatch::UdevWatch watch_;
};
