#include "instruments/UsbtmcScpiLink.h"

#include <fcntl.h>
#include <linux/usb/tmc.h>
#include <sys/ioctl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace instruments {

bool UsbtmcScpiLink::Open(std::string& error) {
  Close();
  fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) {
    error = Address() + ": " + std::strerror(errno);
    return false;
  }
  lost_ = false;
  pending_.clear();
  return true;
}

void UsbtmcScpiLink::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool UsbtmcScpiLink::Write(const std::string& message, std::string& error) {
  if (fd_ < 0) {
    error = Address() + ": not open";
    return false;
  }
  const std::string text = message + "\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      lost_ = errno == ENODEV || errno == EIO || errno == EPIPE || errno == ENXIO;
      error = Address() + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool UsbtmcScpiLink::ReadLine(std::string& line, int timeoutMs, std::string& error) {
  if (fd_ < 0) {
    error = Address() + ": not open";
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (TakeLine(pending_, line)) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      error = Address() + ": no answer within " + std::to_string(timeoutMs) + " ms";
      return false;
    }
    // The usbtmc driver answers a blocking read with the instrument's reply within the
    // time-out set here (its poll does not report replies); any other device file is
    // polled.
    auto ms = static_cast<__u32>(left < 100 ? 100 : left);
    if (::ioctl(fd_, USBTMC_IOCTL_SET_TIMEOUT, &ms) != 0) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(left));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) continue;
    }
    char buf[1024];
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) {
      pending_.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == ETIMEDOUT)) continue;
    lost_ = true;
    error = Address() + ": " + (n == 0 ? std::string("closed") : std::strerror(errno));
    return false;
  }
}

}  // namespace instruments
