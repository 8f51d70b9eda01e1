#include "UdevMonitor.h"

#include <libudev.h>

#include <cstdlib>
#include <cstring>

#include "NoticeHub.h"

namespace hidpipe {

UdevMonitor::UdevMonitor(NoticeHub& hub)
    : hub_(hub), watch_("hidraw", [this](udev_device* dev) { onEvent(dev); }) {}

UdevMonitor::~UdevMonitor() {
  stop();
}

bool UdevMonitor::start() {
  return watch_.start([this](udev* u) { learnPresentDevices(u); });
}

void UdevMonitor::stop() {
  watch_.stop();
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

void UdevMonitor::learnPresentDevices(udev* u) {
  udev_enumerate* en = udev_enumerate_new(u);
  if (en == nullptr) return;
  udev_enumerate_add_match_subsystem(en, "hidraw");
  udev_enumerate_scan_devices(en);
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(en)) {
    udev_device* dev = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
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

}  // namespace hidpipe
