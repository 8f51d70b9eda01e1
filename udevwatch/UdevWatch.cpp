#include "udevwatch/UdevWatch.h"

#include <libudev.h>
#include <poll.h>

#include <cerrno>

namespace udevwatch {

UdevWatch::UdevWatch(std::string subsystem, EventFn onEvent)
    : subsystem_(std::move(subsystem)), onEvent_(std::move(onEvent)) {}

UdevWatch::~UdevWatch() {
  stop();
}

bool UdevWatch::start(const ScanFn& scan) {
  if (thread_.joinable()) return true;
  udev_ = udev_new();
  if (udev_ != nullptr) monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (monitor_ == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor_, subsystem_.c_str(), nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    stop();
    return false;
  }
  if (scan) scan(udev_);
  wake_.clear();
  thread_ = std::thread([this] { run(); });
  return true;
}

void UdevWatch::stop() {
  if (thread_.joinable()) {
    wake_.signal();
    thread_.join();
  }
  if (monitor_ != nullptr) monitor_ = udev_monitor_unref(monitor_);
  if (udev_ != nullptr) udev_ = udev_unref(udev_);
}

void UdevWatch::run() {
  const int monitorFd = udev_monitor_get_fd(monitor_);
  for (;;) {
    pollfd fds[2] = {{wake_.fd(), POLLIN, 0}, {monitorFd, POLLIN, 0}};
    const int r = ::poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || fds[0].revents != 0) return;
    if (fds[1].revents == 0) continue;
    udev_device* dev = udev_monitor_receive_device(monitor_);
    if (dev == nullptr) continue;
    onEvent_(dev);
    udev_device_unref(dev);
  }
}

}  // namespace udevwatch
