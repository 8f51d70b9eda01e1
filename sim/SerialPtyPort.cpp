#include "sim/SerialPtyPort.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace tpcsim {

SerialPtyPort::SerialPtyPort(SimLoop& loop, const SimClock& clock, Trace& trace,
                             ControllerConfig config)
    : loop_(loop), clock_(clock), trace_(trace), controller_(clock, [&] {
        config.link = LinkKind::Serial;
        return config;
      }()) {
  loop_.AddTimerSource({[this] { return NextWakeUs(); }, [this] { Service(); }});
}

SerialPtyPort::~SerialPtyPort() {
  ClosePty();
}

bool SerialPtyPort::Open(const std::string& linkPath, std::string& error) {
  linkPath_ = linkPath;
  return Plug(error);
}

bool SerialPtyPort::Plug(std::string& error) {
  if (Plugged()) return true;
  struct stat st {};
  if (lstat(linkPath_.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = "link path exists and is not a symbolic link: " + linkPath_;
      return false;
    }
    unlink(linkPath_.c_str());
  }
  int m = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    if (m >= 0) close(m);
    return false;
  }
  char name[PATH_MAX];
  if (ptsname_r(m, name, sizeof name) != 0) {
    error = "ptsname failed";
    close(m);
    return false;
  }
  int s = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (s < 0) {
    error = std::string("cannot open ") + name + ": " + std::strerror(errno);
    close(m);
    return false;
  }
  termios t{};
  tcgetattr(s, &t);
  cfmakeraw(&t);
  cfsetispeed(&t, B115200);
  cfsetospeed(&t, B115200);
  tcsetattr(s, TCSANOW, &t);
  if (symlink(name, linkPath_.c_str()) != 0) {
    error = "cannot create link " + linkPath_ + ": " + std::strerror(errno);
    close(s);
    close(m);
    return false;
  }
  masterFd_ = m;
  slaveFd_ = s;
  slavePath_ = name;
  controller_.PowerCycle();
  loop_.Watch(masterFd_, POLLIN, [this](short ev) { OnMaster(ev); });
  return true;
}

void SerialPtyPort::ClosePty() {
  if (masterFd_ < 0) return;
  loop_.Unwatch(masterFd_);
  close(masterFd_);
  close(slaveFd_);
  masterFd_ = slaveFd_ = -1;
  out_.clear();
  // Remove the link only if it still points at our device.
  char target[PATH_MAX];
  ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
  if (n > 0) {
    target[n] = '\0';
    if (slavePath_ == target) unlink(linkPath_.c_str());
  }
}

void SerialPtyPort::Unplug() {
  if (!Plugged()) return;
  ClosePty();
  controller_.PowerCycle();
}

void SerialPtyPort::OnMaster(short revents) {
  if (revents & POLLOUT) Flush();
  if (!(revents & POLLIN)) return;
  char buf[4096];
  ssize_t n = read(masterFd_, buf, sizeof buf);
  if (n <= 0) return;
  decoder_.Feed(std::string_view(buf, static_cast<size_t>(n)), [this](const Bytes& frame) {
    trace_.HostToDevice(frame);
    Send(controller_.HandleHostFrame(frame));
  });
}

void SerialPtyPort::Send(const std::vector<OutFrame>& frames) {
  if (!Plugged()) return;
  for (const OutFrame& f : frames) {
    if (out_.size() > kMaxBacklog) {
      ++dropped_;  // nobody reads the port; not in the trace, which holds what was sent
      continue;
    }
    trace_.DeviceToHost(f.bytes);
    if (f.raw)
      out_.append(f.bytes.begin(), f.bytes.end());
    else
      out_ += SerialPacket(f.bytes);
    ++sent_;
  }
  Flush();
}

void SerialPtyPort::Flush() {
  while (!out_.empty()) {
    ssize_t n = write(masterFd_, out_.data(), out_.size());
    if (n <= 0) break;
    out_.erase(0, static_cast<size_t>(n));
  }
  loop_.SetEvents(masterFd_, out_.empty() ? POLLIN : POLLIN | POLLOUT);
}

bool SerialPtyPort::Congested() const {
  return controller_.Config().streamRateMax && out_.size() > kFastBacklog;
}

void SerialPtyPort::Service() {
  if (!Plugged()) return;
  Send(controller_.Poll(Congested() ? 0 : 64));
}

int64_t SerialPtyPort::NextWakeUs() const {
  if (!Plugged()) return VirtualController::kNever;
  int64_t next = controller_.NextWakeUs();
  // "rate max" on a full line: woken when it drains, or look again in a millisecond.
  if (Congested()) next = std::max(next, clock_.NowUs() + 1000);
  return next;
}

}  // namespace tpcsim
