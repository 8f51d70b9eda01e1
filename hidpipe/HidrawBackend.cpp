#include "HidrawBackend.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FrameLength.h"
#include "NodeDescriptor.h"
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

}  // namespace

HidrawBackend::HidrawBackend(NoticeHub& hub) : monitor_(hub) {}

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
    devices.push_back(std::move(info));
  }
  hid_free_enumeration(list);
  return devices;
}

bool HidrawBackend::open(uint32_t vid, uint32_t pid, uint32_t iface) {
  if (vid == 0 || pid == 0 || vid > 0xFFFF || pid > 0xFFFF || !start()) return false;
  const bool debug = debugEnabled();
  const auto devices =
      debug ? enumerate(0, 0) : enumerate(static_cast<uint16_t>(vid), static_cast<uint16_t>(pid));
  debugDevices(debug, vid, pid, iface, devices);
  const std::vector<size_t> matches = matchingDevices(devices, vid, pid, iface);
  if (matches.empty()) {
    debugLine(debug, "no device matches");
    return false;
  }
  // The first match with a usable layout; the first refusal is the one reported.
  int fd = -1;
  ReportLayout layout;
  std::string path, firstRefusal;
  for (size_t index : matches) {
    path = devices[index].path;
    debugLine(debug, "trying: " + path);
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    std::string problem;
    if (fd < 0) problem = std::string("cannot open: ") + std::strerror(errno);
    if (fd >= 0 && !learnLayout(fd, debug, layout, problem)) {
      ::close(fd);
      fd = -1;
    }
    if (fd >= 0) break;
    debugLine(debug, "refused: " + path + ": " + problem);
    if (firstRefusal.empty()) firstRefusal = path + ": " + problem;
  }
  if (fd < 0) {
    setOpenError(firstRefusal);
    return false;
  }
  debugLine(debug, "opened " + path + ": " + describeLayout(layout));
  close();
  std::unique_lock lk(fdMutex_);
  fd_ = fd;
  layout_ = layout;
  gone_ = false;
  return true;
}

void HidrawBackend::close() {
  // Readers waiting on the node give it up once closing_ fires.
  closing_.signal();
  std::unique_lock lk(fdMutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  closing_.clear();
}

bool HidrawBackend::write(const uint8_t* report) {
  std::shared_lock lk(fdMutex_);
  if (fd_ < 0 || gone_) return false;
  const std::string refusal = frameRefusal(layout_, report);
  if (!refusal.empty()) {
    setOpenError("frame not sent: " + refusal);
    debugLine(debugEnabled(), "frame not sent: " + refusal);
    return false;
  }
  if (writeReport(fd_, layout_, report)) return true;
  if (errno == ENODEV || errno == EIO) gone_ = true;
  return false;
}

int HidrawBackend::read(uint8_t* report, int timeoutMs, size_t& received) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  std::shared_lock lk(fdMutex_);
  for (;;) {
    if (fd_ < 0 || gone_) return -1;
    int wait = timeoutMs < 0 ? -1 : 0;
    if (timeoutMs > 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    pollfd fds[3] = {{fd_, POLLIN, 0}, {interrupt_.fd(), POLLIN, 0}, {closing_.fd(), POLLIN, 0}};
    const int r = ::poll(fds, 3, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || fds[2].revents != 0) return -1;
    if ((fds[0].revents & POLLIN) != 0) {
      // None: another reader took it, or a report of another id was skipped.
      const ReadResult got = readReport(fd_, layout_, report, &received);
      if (got == ReadResult::Report) return 1;
      if (got == ReadResult::None) continue;
      gone_ = true;
      return -1;
    }
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      gone_ = true;
      return -1;
    }
    if (fds[1].revents != 0 || r == 0) return 0;
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
