#include "sim/UsbSocketServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tpcsim {

namespace {
constexpr int64_t kReenumerateUs = 500'000;
constexpr size_t kMaxPollBatch = 64;
constexpr size_t kMaxFastBacklog = 64 * 1024;  // "rate max" waits below this

bool StaleSocket(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  bool alive = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return !alive;
}
}  // namespace

UsbSocketServer::UsbSocketServer(SimLoop& loop, const SimClock& clock, Trace& trace,
                                 ControllerConfig config)
    : loop_(loop), clock_(clock), trace_(trace), controller_(clock, std::move(config)) {
  loop_.AddTimerSource({[this] { return NextWakeUs(); }, [this] { Service(); }});
}

UsbSocketServer::~UsbSocketServer() {
  for (Client& c : clients_) {
    loop_.Unwatch(c.fd);
    close(c.fd);
  }
  if (listenFd_ >= 0) {
    loop_.Unwatch(listenFd_);
    close(listenFd_);
    unlink(path_.c_str());
  }
}

bool UsbSocketServer::Listen(const std::string& path, std::string& error) {
  sockaddr_un a{};
  if (path.size() >= sizeof a.sun_path) {
    error = "socket path too long: " + path;
    return false;
  }
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!StaleSocket(path)) {
      error = "socket path in use or not a socket: " + path;
      return false;
    }
    unlink(path.c_str());
  }
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  mode_t old = umask(0077);  // only this user may connect
  int rc = bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  umask(old);
  if (rc != 0 || listen(listenFd_, 16) != 0) {
    error = "cannot listen on " + path + ": " + std::strerror(errno);
    close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  path_ = path;
  loop_.Watch(listenFd_, POLLIN, [this](short) { Accept(); });
  return true;
}

std::string UsbSocketServer::NoticePath() const {
  char id[48];
  const ControllerConfig& c = controller_.Config();
  std::snprintf(id, sizeof id, "#VID_%04X&PID_%04X&MI_%02X", c.vid, c.pid, c.iface);
  return "sim:" + path_ + id;
}

void UsbSocketServer::Accept() {
  for (;;) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    clients_.push_back(Client{fd, {}, {}, false});
    Client* c = &clients_.back();
    loop_.Watch(fd, POLLIN, [this, c](short ev) { OnClient(*c, ev); });
  }
}

void UsbSocketServer::CloseClient(Client& c) {
  loop_.Unwatch(c.fd);
  close(c.fd);
  for (auto it = clients_.begin(); it != clients_.end(); ++it) {
    if (&*it == &c) {
      clients_.erase(it);
      return;
    }
  }
}

void UsbSocketServer::OnClient(Client& c, short revents) {
  if (revents & POLLOUT) Flush(c);
  if (revents & (POLLIN | POLLHUP | POLLERR)) {
    char buf[8192];
    ssize_t n = read(c.fd, buf, sizeof buf);
    if (n <= 0) {
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
      CloseClient(c);
      return;
    }
    c.in.append(buf, static_cast<size_t>(n));
    size_t pos = 0;
    while (c.in.size() - pos >= 3) {
      auto type = static_cast<uint8_t>(c.in[pos]);
      size_t len = static_cast<uint8_t>(c.in[pos + 1]) | (static_cast<uint8_t>(c.in[pos + 2]) << 8);
      if (len > kMaxPayload) {
        CloseClient(c);
        return;
      }
      if (c.in.size() - pos < 3 + len) break;
      HandleMessage(c, type, std::string_view(c.in).substr(pos + 3, len));
      pos += 3 + len;
    }
    c.in.erase(0, pos);
  }
}

void UsbSocketServer::HandleMessage(Client& c, uint8_t type, std::string_view p) {
  switch (type) {
    case kHello:
      if (plugged_) {
        std::string notice(1, '\x02');  // present
        notice += NoticePath();
        Queue(c, kNotice, notice);
      }
      break;
    case kOpen: {
      const ControllerConfig& cfg = controller_.Config();
      bool ok = false;
      if (plugged_ && p.size() >= 5) {
        auto u16 = [&](size_t i) {
          return static_cast<uint16_t>(static_cast<uint8_t>(p[i]) |
                                       (static_cast<uint8_t>(p[i + 1]) << 8));
        };
        ok = u16(0) == cfg.vid && u16(2) == cfg.pid && static_cast<uint8_t>(p[4]) == cfg.iface;
      }
      c.open = ok;
      Queue(c, kOpenResult, std::string(1, ok ? '\x01' : '\x00'));
      break;
    }
    case kClose:
      c.open = false;
      break;
    case kOutput: {
      if (!plugged_ || !c.open) break;
      std::span<const uint8_t> report(reinterpret_cast<const uint8_t*>(p.data()), p.size());
      size_t len = FrameLength(report);
      if (len == 0) len = report.size();
      auto frame = report.first(len);
      trace_.HostToDevice(frame);
      Send(controller_.HandleHostFrame(frame));
      if (controller_.TakeReenumerateRequest()) {
        Unplug();
        replugAtUs_ = clock_.NowUs() + kReenumerateUs;
      }
      break;
    }
    default:
      break;  // unknown types are skipped
  }
}

void UsbSocketServer::Queue(Client& c, uint8_t type, std::string_view payload) {
  char hdr[3] = {static_cast<char>(type), static_cast<char>(payload.size() & 0xFF),
                 static_cast<char>(payload.size() >> 8)};
  c.out.append(hdr, 3);
  c.out.append(payload);
  Flush(c);
}

void UsbSocketServer::Flush(Client& c) {
  while (!c.out.empty()) {
    ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n <= 0) break;
    c.out.erase(0, static_cast<size_t>(n));
  }
  loop_.SetEvents(c.fd, c.out.empty() ? POLLIN : POLLIN | POLLOUT);
}

void UsbSocketServer::Send(const std::vector<OutFrame>& frames) {
  if (!plugged_) return;
  for (const OutFrame& f : frames) {
    // A whole report is the frame then zeros; a cut one ends where its bytes end.
    size_t n = std::min(f.bytes.size(), kReportSize);
    std::string report(f.cut && n > 0 ? n : kReportSize, '\0');
    std::memcpy(report.data(), f.bytes.data(), n);
    trace_.DeviceToHost(std::span<const uint8_t>(f.bytes.data(), n));
    bool delivered = false;
    for (Client& c : clients_) {
      if (!c.open) continue;
      if (c.out.size() > kMaxBacklog) {
        ++dropped_;
        continue;
      }
      char hdr[3] = {static_cast<char>(kInput), static_cast<char>(report.size()), 0};
      c.out.append(hdr, 3);
      c.out.append(report);
      delivered = true;
    }
    if (delivered) ++sent_;
  }
  for (Client& c : clients_)
    if (!c.out.empty()) Flush(c);
}

void UsbSocketServer::NoticeAll(bool arrival) {
  std::string notice(1, arrival ? '\x01' : '\x00');
  notice += NoticePath();
  for (Client& c : clients_) Queue(c, kNotice, notice);
}

bool UsbSocketServer::Plug(std::string&) {
  if (plugged_) return true;
  plugged_ = true;
  replugAtUs_ = VirtualController::kNever;
  controller_.PowerCycle();
  NoticeAll(true);
  return true;
}

void UsbSocketServer::Unplug() {
  if (!plugged_) return;
  plugged_ = false;
  for (Client& c : clients_) c.open = false;
  controller_.PowerCycle();
  NoticeAll(false);
}

bool UsbSocketServer::AnyOpen() const {
  for (const Client& c : clients_)
    if (c.open) return true;
  return false;
}

size_t UsbSocketServer::Backlog() const {
  size_t b = 0;
  for (const Client& c : clients_)
    if (c.open) b = std::max(b, c.out.size());
  return b;
}

void UsbSocketServer::Service() {
  if (!plugged_) {
    if (clock_.NowUs() >= replugAtUs_) {
      std::string err;
      Plug(err);
    }
    return;
  }
  size_t batch = kMaxPollBatch;
  // As fast as possible still waits for a reader and for room in its queue.
  if (controller_.Config().streamRateMax && (!AnyOpen() || Backlog() > kMaxFastBacklog)) batch = 0;
  Send(controller_.Poll(batch));
}

int64_t UsbSocketServer::NextWakeUs() const {
  if (!plugged_) return replugAtUs_;
  int64_t next = controller_.NextWakeUs();
  if (controller_.Config().streamRateMax && controller_.StreamCode() &&
      (!AnyOpen() || Backlog() > kMaxFastBacklog)) {
    // Woken by the socket becoming writable; look again in a millisecond at most.
    next = std::max(next, clock_.NowUs() + 1000);
  }
  return next;
}

}  // namespace tpcsim
