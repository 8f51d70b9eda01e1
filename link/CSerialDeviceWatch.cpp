#include "CSerialDeviceWatch.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CSerialDeviceWatch::CSerialDeviceWatch(std::function<void()> onChange)
    : onChange_(std::move(onChange)) {}

CSerialDeviceWatch::~CSerialDeviceWatch() {
  Stop();
}

bool CSerialDeviceWatch::Start() {
  if (thread_.joinable()) return true;
  udev_ = udev_new();
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (udev_ != nullptr) monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (monitor_ == nullptr || stopFd_ < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    Stop();
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void CSerialDeviceWatch::Stop() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    [[maybe_unused]] const auto n = write(stopFd_, &one, sizeof one);
    thread_.join();
  }
  if (monitor_ != nullptr) monitor_ = udev_monitor_unref(monitor_);
  if (udev_ != nullptr) udev_ = udev_unref(udev_);
  if (stopFd_ >= 0) close(stopFd_);
  stopFd_ = -1;
}

void CSerialDeviceWatch::Run() {
  pollfd fds[2] = {{stopFd_, POLLIN, 0}, {udev_monitor_get_fd(monitor_), POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    if (fds[1].revents == 0) continue;
    udev_device* dev = udev_monitor_receive_device(monitor_);
    if (dev == nullptr) continue;
    const char* action = udev_device_get_action(dev);
    const bool change =
        action != nullptr && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0);
    udev_device_unref(dev);
    if (change) onChange_();
  }
}
