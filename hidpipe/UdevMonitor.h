// Device arrival and removal of hidraw nodes, heard from udev on a thread of its own.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "NoticePath.h"
#include "udevwatch/UdevWatch.h"

struct udev;
struct udev_device;

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
  void learnPresentDevices(udev* u);
  void onEvent(udev_device* dev);
  static std::optional<DeviceIdentity> identityOf(udev_device* dev);

  NoticeHub& hub_;
  std::map<std::string, std::string> known_;  // device node -> notice path (watch thread)
  udevwatch::UdevWatch watch_;  // last: stopped before known_ goes
};

}  // namespace hidpipe
