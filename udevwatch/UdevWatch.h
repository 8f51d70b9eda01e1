// Udev events of one subsystem, heard on a thread of its own and handed to a callback.
// Serves the hidraw notices of hidpipe and the serial device watch of the programs.
#pragma once

#include <functional>
#include <string>
#include <thread>

#include "udevwatch/WakeEvent.h"

struct udev;
struct udev_device;
struct udev_monitor;

namespace udevwatch {

class UdevWatch {
 public:
  // onEvent runs on the watch's thread for every event of the subsystem.
  using EventFn = std::function<void(udev_device*)>;
  // Runs on the caller's thread once listening has begun, before the first event.
  using ScanFn = std::function<void(udev*)>;

  UdevWatch(std::string subsystem, EventFn onEvent);
  ~UdevWatch();
  UdevWatch(const UdevWatch&) = delete;
  UdevWatch& operator=(const UdevWatch&) = delete;

  // Starts listening (once); false when udev cannot be reached. scan may look at the
  // devices present: one plugged in meanwhile is heard as an event, not missed.
  bool start(const ScanFn& scan = {});
  // Stops listening; no callback runs after it returns.
  void stop();

 private:
  void run();

  const std::string subsystem_;
  const EventFn onEvent_;
  WakeEvent wake_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  std::thread thread_;
};

}  // namespace udevwatch
