#include "UdevMonitor.h"

#include <libudev.h>
#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "NoticeHub.h"

namespace hidpipe {

UdevMonitor::UdevMonitor(NoticeHub& hub) : hub_(hub) {}

UdevMonitor::~UdevMonitor() {
  stop();
}

bool UdevMonitor::start() {
  if (thread_.joinable()) return true;
  udev_ = udev_new();
  if (udev_ == nullptr) return false;
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (monitor_ == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    stop();
    return false;
  }
  // Listening before the scan: a device plugged in between is not missed.
  learnPresentDevices();
  wake_.clear();
  thread_ = std::thread([this] { run(); });
  return true;
}

void UdevMonitor::stop() {
  if (thread_.joinable()) {
    wake_.signal();
    thread_.join();
  }
  if (monitor_ != nullptr) monitor_ = udev_monitor_unref(monitor_);
  if (udev_ != nullptr) udev_ = udev_unref(udev_);
  known_.clear();
}

std::optional<DeviceIdentity> UdevMonitor::identityOf(udev_device* dev) {
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(dev, "hid", nullptr);
  if (hid == nullptr) return std::nullopt;
  const char* hidId = udev_device_get_property_value(hid, "HID_ID");
  if (hidId == nullptr) return std::nullopt;
  auto id = parseHidId(hidId);
  if (!id) return std::nullopt;
  udev_device* intf = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_interface");
  const char* number =
      intf != nullptr ? udev_device_get_sysattr_value(intf, "bInterfaceNumber") : nullptr;
  if (number != nullptr) {
    char* end = nullptr;
    const long v = std::strtol(number, &end, 16);
    if (end != number && v >= 0 && v <= 0xFF) id->iface = static_cast<int>(v);
  }
  return id;
}

void UdevMonitor::learnPresentDevices() {
  udev_enumerate* en = udev_enumerate_new(udev_);
  if (en == nullptr) return;
  udev_enumerate_add_match_subsystem(en, "hidraw");
  udev_enumerate_scan_devices(en);
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(en)) {
    udev_device* dev = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
    if (dev == nullptr) continue;
    const char* node = udev_device_get_devnode(dev);
    const auto id = identityOf(dev);
    if (node != nullptr && id) known_[node] = formatNoticePath(node, *id);
    udev_device_unref(dev);
  }
  udev_enumerate_unref(en);
}

void UdevMonitor::onEvent(udev_device* dev) {
  const char* action = udev_device_get_action(dev);
  const char* node = udev_device_get_devnode(dev);
  if (action == nullptr || node == nullptr) return;
  if (std::strcmp(action, "add") == 0) {
    const auto id = identityOf(dev);
    std::string path = id ? formatNoticePath(node, *id) : std::string(node);
    known_[node] = path;
    hub_.post(HIDPIPE_ARRIVAL, std::move(path));
  } else if (std::strcmp(action, "remove") == 0) {
    // The parents are usually gone by now: use what the arrival or the scan learned.
    std::string path = node;
    if (auto it = known_.find(node); it != known_.end()) {
      path = it->second;
      known_.erase(it);
    }
    hub_.post(HIDPIPE_REMOVAL, std::move(path));
  }
}

void UdevMonitor::run() {
  const int monitorFd = udev_monitor_get_fd(monitor_);
  for (;;) {
    pollfd fds[2] = {{wake_.fd(), POLLIN, 0}, {monitorFd, POLLIN, 0}};
    const int r = ::poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || fds[0].revents != 0) return;
    if (fds[1].revents != 0) {
      udev_device* dev = udev_monitor_receive_device(monitor_);
      if (dev == nullptr) continue;
      onEvent(dev);
      udev_device_unref(dev);
    }
  }
}

}  // namespace hidpipe
