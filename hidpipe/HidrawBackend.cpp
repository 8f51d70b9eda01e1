#include "HidrawBackend.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FrameLength.h"
#include "NodeDescriptor.h"
#include "NoticeHub.h"
#include "NoticePath.h"
#include "OpenError.h"
#include "ReportFraming.h"

namespace hidpipe {

namespace {

// HIDPIPE_DEBUG set (and not "0"): the open tells on stderr what it found and chose.
bool debugEnabled() {
  const char* v = std::getenv("HIDPIPE_DEBUG");
  return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
}

void debugLine(bool debug, const std::string& text) {
  if (debug) std::fprintf(stderr, "hidpipe: %s\n", text.c_str());
}

std::string hex4(uint32_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", v & 0xFFFF);
  return text;
}

void debugDevices(bool debug, uint32_t vid, uint32_t pid, uint32_t iface,
                  const std::vector<HidDeviceInfo>& devices) {
  if (!debug) return;
  debugLine(true, "looking for VID " + hex4(vid) + " PID " + hex4(pid) + " interface " +
                      std::to_string(iface) + " among " + std::to_string(devices.size()) +
                      " HID devices:");
  for (const HidDeviceInfo& d : devices)
    debugLine(true, "  " + d.path + "  VID " + hex4(d.vid) + " PID " + hex4(d.pid) + " interface " +
                        std::to_string(d.iface) + " bus " + busName(d.bus));
}

std::string narrow(const wchar_t* text) {
  std::string out;
  for (; *text != L'\0'; ++text) out += (*text >= 0x20 && *text < 0x7F) ? char(*text) : '?';
  return out;
}

void debugBytes(bool debug, const std::vector<uint8_t>& bytes) {
  if (!debug) return;
  debugLine(true, "report descriptor, " + std::to_string(bytes.size()) + " bytes:");
  for (size_t i = 0; i < bytes.size(); i += 16) {
    std::string line = " ";
    for (size_t k = i; k < bytes.size() && k < i + 16; ++k) {
      char b[4];
      std::snprintf(b, sizeof b, " %02X", bytes[k]);
      line += b;
    }
    debugLine(true, line);
  }
}

// The protocol's report layout on the node open as fd; problem says why there is none.
bool learnLayout(int fd, bool debug, ReportLayout& layout, std::string& problem) {
  std::vector<uint8_t> bytes;
  if (!readNodeDescriptor(fd, bytes, problem)) return false;
  debugBytes(debug, bytes);
  const DescriptorParse parsed = parseReportDescriptor(bytes);
  for (const std::string& note : parsed.skipped) debugLine(debug, note);
  if (!parsed.ok) {
    problem = "report descriptor not understood: " + parsed.error;
    return false;
  }
  const std::string reports = describeReports(parsed.descriptor);
  debugLine(debug, "reports: " + reports);
  const LayoutChoice choice = chooseLayout(parsed.descriptor, kReportSize);
  if (!choice.ok) {
    problem = "cannot use this device: " + choice.problem + " (reports: " + reports + ")";
    return false;
  }
  layout = choice.layout;
  return true;
}

// The USB port path of a hidraw node ("1-2.3", the USB device's name in sysfs); empty when
// the node is not on USB.
std::string usbPortOf(udev* u, const std::string& node) {
  if (u == nullptr) return {};
  const size_t slash = node.rfind('/');
  const std::string name = node.substr(slash == std::string::npos ? 0 : slash + 1);
  udev_device* dev = udev_device_new_from_subsystem_sysname(u, "hidraw", name.c_str());
  if (dev == nullptr) return {};
  std::string port;
  if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device"))
    if (const char* sysname = udev_device_get_sysname(usb)) port = sysname;
  udev_device_unref(dev);
  return port;
}

// "/dev/hidraw10" after "/dev/hidraw9": buses in hidapi's order, then nodes by number.
bool listedBefore(const HidDeviceInfo& a, const HidDeviceInfo& b) {
  if (a.bus != b.bus) return a.bus < b.bus;
  const auto number = [](const std::string& p) {
    size_t i = p.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(p[i - 1]))) --i;
    return std::make_pair(p.substr(0, i), i < p.size() ? std::stoul(p.substr(i, 9)) : 0ul);
  };
  return number(a.path) < number(b.path);
}

std::string identityText(uint32_t vid, uint32_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X:%04X", vid & 0xFFFF, pid & 0xFFFF);
  return text;
}

// Why nothing matched although the identity is present: its pipe is on another USB
// interface, or the choice names none of its devices. Empty otherwise.
std::string noMatchReason(const std::vector<HidDeviceInfo>& devices, uint32_t vid, uint32_t pid,
                          uint32_t iface, const std::string& choice) {
  std::string nodes;
  for (const HidDeviceInfo& d : devices) {
    if (d.vid != vid || d.pid != pid) continue;
    if (deviceMatches(d, vid, pid, iface)) {
      nodes += (nodes.empty() ? "" : ", ") + d.path;
      continue;
    }
    if (!deviceChosen(d, choice)) continue;
    std::vector<uint8_t> bytes;
    std::string problem;
    if (!readFileBytes(sysfsDescriptorOfNode(d.path), 1 << 16, bytes, problem)) continue;
    const DescriptorParse parsed = parseReportDescriptor(bytes);
    if (parsed.ok && chooseLayout(parsed.descriptor, kReportSize).ok)
      return d.path + ": " + identityText(vid, pid) + " has its pipe on interface " +
             std::to_string(d.iface) + ", not " + std::to_string(iface);
  }
  if (!nodes.empty())
    return identityText(vid, pid) + ": \"" + choice + "\" names none of its devices (" + nodes +
           ")";
  return {};
}

}  // namespace

HidrawBackend::Node::~Node() {
  ::close(fd);
}

HidrawBackend::HidrawBackend(NoticeHub& hub) : hub_(hub), monitor_(hub) {}

HidrawBackend::~HidrawBackend() {
  close();
  monitor_.stop();
  std::lock_guard lk(startMutex_);
  if (started_) hid_exit();
}

bool HidrawBackend::start() {
  std::lock_guard lk(startMutex_);
  if (!started_) started_ = hid_init() == 0;
  return started_;
}

std::vector<HidDeviceInfo> HidrawBackend::enumerate(uint16_t vid, uint16_t pid) {
  std::vector<HidDeviceInfo> devices;
  udev* u = udev_new();
  hid_device_info* list = hid_enumerate(vid, pid);
  for (hid_device_info* d = list; d != nullptr; d = d->next) {
    // hidapi lists a node once per top-level collection; one entry per node here.
    const std::string path = d->path != nullptr ? d->path : "";
    if (std::any_of(devices.begin(), devices.end(),
                    [&](const HidDeviceInfo& seen) { return seen.path == path; }))
      continue;
    HidDeviceInfo info;
    info.vid = d->vendor_id;
    info.pid = d->product_id;
    info.iface = d->interface_number;
    info.path = path;
    info.bus = static_cast<int>(d->bus_type);
    if (d->product_string != nullptr) info.product = narrow(d->product_string);
    if (d->serial_number != nullptr) info.serial = narrow(d->serial_number);
    if (info.bus == kBusUsb) info.port = usbPortOf(u, path);
    devices.push_back(std::move(info));
  }
  hid_free_enumeration(list);
  if (u != nullptr) udev_unref(u);
  std::stable_sort(devices.begin(), devices.end(), listedBefore);
  return devices;
}

bool HidrawBackend::open(uint32_t vid, uint32_t pid, uint32_t iface, const std::string& choice) {
  if (vid == 0 || pid == 0 || vid > 0xFFFF || pid > 0xFFFF || !start()) return false;
  const bool debug = debugEnabled();
  const auto devices =
      debug ? enumerate(0, 0) : enumerate(static_cast<uint16_t>(vid), static_cast<uint16_t>(pid));
  debugDevices(debug, vid, pid, iface, devices);
  std::vector<size_t> matches;
  for (size_t index : matchingDevices(devices, vid, pid, iface))
    if (deviceChosen(devices[index], choice)) matches.push_back(index);
  if (matches.empty()) {
    debugLine(debug, "no device matches");
    setOpenError(noMatchReason(devices, vid, pid, iface, choice));
    return false;
  }
  // The first match with a usable layout; the first refusal is the one reported.
  int fd = -1;
  ReportLayout layout;
  std::string firstRefusal;
  size_t chosen = 0;
  for (size_t index : matches) {
    const std::string& path = devices[index].path;
    debugLine(debug, "trying: " + path);
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    std::string problem;
    if (fd < 0) problem = std::string("cannot open: ") + std::strerror(errno);
    if (fd >= 0 && !learnLayout(fd, debug, layout, problem)) {
      ::close(fd);
      fd = -1;
    }
    if (fd >= 0) {
      chosen = index;
      break;
    }
    debugLine(debug, "refused: " + path + ": " + problem);
    if (firstRefusal.empty()) firstRefusal = path + ": " + problem;
  }
  if (fd < 0) {
    setOpenError(firstRefusal);
    return false;
  }
  const HidDeviceInfo& info = devices[chosen];
  debugLine(debug, "opened " + info.path + ": " + describeLayout(layout));
  close();
  auto node = std::make_shared<Node>(fd);
  node->layout = layout;
  node->info = info;
  const int noticeIface = info.bus == kBusUsb ? info.iface : -1;
  node->noticePath = formatNoticePath(info.path, {info.vid, info.pid, noticeIface});
  hub_.forget(node->noticePath);
  std::lock_guard lk(nodeMutex_);
  node_ = std::move(node);
  return true;
}

HidDeviceInfo HidrawBackend::opened() const {
  const auto node = current();
  return node ? node->info : HidDeviceInfo{};
}

std::shared_ptr<HidrawBackend::Node> HidrawBackend::current() const {
  std::lock_guard lk(nodeMutex_);
  return node_;
}

void HidrawBackend::close() {
  std::shared_ptr<Node> node;
  {
    std::lock_guard lk(nodeMutex_);
    node.swap(node_);
  }
  // Readers waiting on the node give it up; the descriptor closes with the last holder.
  if (node) node->closing.signal();
}

bool HidrawBackend::gone() const {
  const auto node = current();
  return node && node->gone;
}

void HidrawBackend::markGone(Node& node) {
  if (node.gone.exchange(true)) return;
  debugLine(debugEnabled(), node.info.path + ": the device went away");
  hub_.postGone(node.noticePath);
}

std::string HidrawBackend::refusal(const uint8_t* report) const {
  const auto node = current();
  return node ? frameRefusal(node->layout, report) : std::string();
}

int HidrawBackend::write(const uint8_t* report) {
  const auto node = current();
  if (!node || node->gone) return ENODEV;
  if (writeReport(node->fd, node->layout, report)) return 0;
  const int error = errno != 0 ? errno : EIO;
  if (error == ENODEV || error == EIO || error == ESHUTDOWN) markGone(*node);
  return error;
}

int HidrawBackend::read(uint8_t* report, int timeoutMs, size_t& received) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  const auto node = current();
  for (;;) {
    if (!node || node->gone) return -1;
    int wait = timeoutMs < 0 ? -1 : 0;
    if (timeoutMs > 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    pollfd fds[3] = {
        {node->fd, POLLIN, 0}, {interrupt_.fd(), POLLIN, 0}, {node->closing.fd(), POLLIN, 0}};
    const int r = ::poll(fds, 3, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || fds[2].revents != 0) return -1;
    if ((fds[0].revents & POLLIN) != 0) {
      // None: another reader took it, or a report of another id was skipped.
      const ReadResult got = readReport(node->fd, node->layout, report, &received);
      if (got == ReadResult::Report) return 1;
      if (got == ReadResult::None) continue;
      markGone(*node);
      return -1;
    }
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      markGone(*node);
      return -1;
    }
    if (fds[1].revents != 0 || r == 0) return 0;
  }
}

void HidrawBackend::hold(int ms) {
  pollfd fd{interrupt_.fd(), POLLIN, 0};
  while (::poll(&fd, 1, ms) < 0 && errno == EINTR) {
  }
}

bool HidrawBackend::setNotices(bool on) {
  std::lock_guard lk(noticeMutex_);
  if (!on) {
    monitor_.stop();
    return true;
  }
  return monitor_.start();
}

}  // namespace hidpipe
