#include "HidrawBackend.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace hidpipe {

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
    HidDeviceInfo info;
    info.vid = d->vendor_id;
    info.pid = d->product_id;
    info.iface = d->interface_number;
    info.path = d->path != nullptr ? d->path : "";
    devices.push_back(std::move(info));
  }
  hid_free_enumeration(list);
  return devices;
}

bool HidrawBackend::open(uint32_t vid, uint32_t pid, uint32_t iface) {
  if (vid == 0 || pid == 0 || vid > 0xFFFF || pid > 0xFFFF || !start()) return false;
  const auto devices = enumerate(static_cast<uint16_t>(vid), static_cast<uint16_t>(pid));
  const int index = findDevice(devices, vid, pid, iface);
  if (index < 0) return false;
  const int fd =
      ::open(devices[static_cast<size_t>(index)].path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  close();
  std::unique_lock lk(fdMutex_);
  fd_ = fd;
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
  // Report id 0 first: the device uses unnumbered reports.
  uint8_t out[65];
  out[0] = 0;
  std::memcpy(out + 1, report, 64);
  for (;;) {
    const ssize_t n = ::write(fd_, out, sizeof out);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == ENODEV || errno == EIO)) gone_ = true;
    return n == static_cast<ssize_t>(sizeof out);
  }
}

int HidrawBackend::read(uint8_t* report, int timeoutMs) {
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
      uint8_t buf[64] = {};
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0) {
        std::memcpy(report, buf, sizeof buf);
        return 1;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;  // another reader took it
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
