// Device arrival and removal of hidraw nodes, heard from udev on a thread of its own.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <thread>

#include "NoticePath.h"
#include "WakeEvent.h"

struct udev;
struct udev_device;
struct udev_monitor;

namespace hidpipe {

class NoticeHub;

class UdevMonitor {
 public:
  explicit UdevMonitor(NoticeHub& hub);
  ~UdevMonitor();
  UdevMonitor(const UdevMonitor&) = delete;
  UdevMonitor& operator=(const UdevMonitor&) = delete;

  // Starts listening (once); false when udev cannot be reached.
  bool start();
  void stop();

 private:
  void run();
  void learnPresentDevices();
  void onEvent(udev_device* dev);
  static std::optional<DeviceIdentity> identityOf(udev_device* dev);

  NoticeHub& hub_;
  WakeEvent wake_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  std::thread thread_;
  std::map<std::string, std::string> known_;  // device node -> notice path (thread only)
};

}  // namespace hidpipe
