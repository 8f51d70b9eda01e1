#include "SimBackend.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "FrameLength.h"
#include "NoticeHub.h"

namespace hidpipe {
namespace {

constexpr auto kOpenAnswerWait = std::chrono::seconds(3);
constexpr auto kDisconnectWait = std::chrono::seconds(1);
constexpr int kRetryMs = 500;
// The socket hands over bursts faster than a USB link; while the drain thread runs it is
// given this long to make room before the device queue drops a report.
constexpr int kDrainRoomWaitMs = 200;

bool sendAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool sameDevice(const std::string& path, const DeviceIdentity& open) {
  const auto id = parseNoticePath(path);
  if (!id) return true;  // one simulator serves one device
  return id->vid == open.vid && id->pid == open.pid && (id->iface < 0 || id->iface == open.iface);
}

}  // namespace

SimBackend::SimBackend(std::string socketPath, NoticeHub& hub)
    : path_(std::move(socketPath)), hub_(hub) {
  devQueue_.close();
  thread_ = std::thread([this] { run(); });
}

SimBackend::~SimBackend() {
  {
    std::lock_guard lk(m_);
    stop_ = true;
  }
  wake_.signal();
  devQueue_.close();
  thread_.join();
  if (fd_ >= 0) ::close(fd_);
}

bool SimBackend::start() {
  ensureConnected();
  return true;  // the simulator may come up later; opening connects again
}

int SimBackend::connectSocket() const {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path_.empty() || path_.size() >= sizeof addr.sun_path) return -1;
  std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  timeval tv{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  return fd;
}

bool SimBackend::ensureConnected(bool announcePresent) {
  std::lock_guard w(writeMutex_);
  {
    std::lock_guard lk(m_);
    if (stop_) return false;
    if (fd_ >= 0) return true;
  }
  const int fd = connectSocket();
  if (fd < 0) return false;
  if (!sendAll(fd, encodeSimMessage(kSimHello))) {
    ::close(fd);
    return false;
  }
  {
    std::lock_guard lk(m_);
    fd_ = fd;
    ++connection_;
    plugged_.clear();
    announcePresent_ = announcePresent;
  }
  wake_.signal();
  return true;
}

bool SimBackend::sendMessage(uint8_t type, std::span<const uint8_t> payload) {
  std::lock_guard w(writeMutex_);
  int fd;
  {
    std::lock_guard lk(m_);
    fd = fd_;
  }
  if (fd < 0) return false;
  if (sendAll(fd, encodeSimMessage(type, payload))) return true;
  // A broken connection: let the socket thread see its end at once.
  ::shutdown(fd, SHUT_RDWR);
  return false;
}

SimBackend::OpenOutcome SimBackend::openOnce(uint32_t vid, uint32_t pid, uint32_t iface) {
  uint64_t connection;
  {
    std::lock_guard lk(m_);
    opening_ = true;
    openResult_ = -1;
    connection = connection_;
  }
  const uint8_t payload[5] = {static_cast<uint8_t>(vid & 0xFF), static_cast<uint8_t>(vid >> 8),
                              static_cast<uint8_t>(pid & 0xFF), static_cast<uint8_t>(pid >> 8),
                              static_cast<uint8_t>(iface)};
  const bool sent = sendMessage(kSimOpen, payload);
  std::unique_lock lk(m_);
  if (sent) cv_.wait_for(lk, kOpenAnswerWait, [&] { return openResult_ >= 0; });
  opening_ = false;
  if (openResult_ == 1 && devOpen_) {
    openId_ = {static_cast<uint16_t>(vid), static_cast<uint16_t>(pid), static_cast<int>(iface)};
    return OpenOutcome::Opened;
  }
  if (!sent || openResult_ < 0 || fd_ < 0 || connection_ != connection) {
    // Wait for the socket thread to drop the broken connection before trying again.
    cv_.wait_for(lk, kDisconnectWait, [&] { return fd_ < 0 || connection_ != connection; });
    return OpenOutcome::ConnectionLost;
  }
  return OpenOutcome::Refused;
}

bool SimBackend::open(uint32_t vid, uint32_t pid, uint32_t iface, const std::string& /*choice*/) {
  // One simulated controller per identity: there is nothing to choose between.
  if (vid > 0xFFFF || pid > 0xFFFF || iface > 0xFF) return false;
  // A simulator that restarted since the last call leaves a dead connection behind:
  // connect again once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!ensureConnected()) return false;
    const OpenOutcome outcome = openOnce(vid, pid, iface);
    if (outcome == OpenOutcome::Opened) {
      std::lock_guard lk(m_);
      opened_ = HidDeviceInfo(uint16_t(vid), uint16_t(pid), int(iface), "sim:" + path_, kBusUsb,
                              "tpcsim");
      return true;
    }
    if (outcome == OpenOutcome::Refused) return false;
  }
  return false;
}

void SimBackend::close() {
  bool wasOpen;
  {
    std::lock_guard lk(m_);
    wasOpen = devOpen_;
    devOpen_ = false;
  }
  devQueue_.close();
  if (wasOpen) sendMessage(kSimClose, {});
}

HidDeviceInfo SimBackend::opened() const {
  std::lock_guard lk(m_);
  return opened_;
}

int SimBackend::write(const uint8_t* report) {
  {
    std::lock_guard lk(m_);
    if (!devOpen_) return ENODEV;
  }
  return sendMessage(kSimOutput, std::span<const uint8_t>(report, 64)) ? 0 : EPIPE;
}

int SimBackend::read(uint8_t* report, int timeoutMs, size_t& received) {
  return devQueue_.pop(report, timeoutMs, &received, &lastArrivalUs_);
}

bool SimBackend::feedRing(ReportQueue* ring) {
  std::lock_guard lk(m_);
  if (ring != nullptr) {
    uint8_t report[kReportSize];
    size_t received = 0;
    int64_t at = 0;
    while (devQueue_.pop(report, 0, &received, &at) == 1) ring->push(report, 0, received, at);
  }
  ring_ = ring;
  return true;
}

void SimBackend::wakeRing() {
  std::lock_guard lk(m_);
  if (ring_ != nullptr) ring_->wake();
}

bool SimBackend::setNotices(bool on) {
  {
    std::lock_guard lk(m_);
    wantNotices_ = on;
  }
  if (on) ensureConnected();
  wake_.signal();
  return true;
}

void SimBackend::run() {
  SimStreamParser parser;
  SimMessage msg;
  ReadPace pace;
  int current = -1;
  for (;;) {
    int fd;
    bool want;
    {
      std::lock_guard lk(m_);
      if (stop_) return;
      fd = fd_;
      want = wantNotices_;
    }
    if (fd != current) {
      parser.reset();
      pace.reset();
      current = fd;
    }
    if (fd < 0 && want && ensureConnected(true)) continue;
    pollfd fds[2] = {{wake_.fd(), POLLIN, 0}, {fd, POLLIN, 0}};
    const int timeout = (fd < 0 && want) ? kRetryMs : -1;
    const int r = ::poll(fds, fd >= 0 ? 2 : 1, timeout);
    if (r < 0 && errno != EINTR) return;
    if (r <= 0) continue;
    if (fds[0].revents != 0) wake_.clear();
    if (fd < 0 || fds[1].revents == 0) continue;
    bool more = false;
    const size_t reports = readSocket(fd, parser, msg, more);
    const int holdMs = pace.afterRead(ReportQueue::NowUs(), reports);
    if (holdMs > 0 && !more) {
      // A fast stream: let more reports gather before the next read (a full buffer is read
      // on at once). Stopping or a new connection (the wake event) ends the wait at once.
      pollfd wake{wake_.fd(), POLLIN, 0};
      ::poll(&wake, 1, holdMs);
    }
  }
}

size_t SimBackend::readSocket(int fd, SimStreamParser& parser, SimMessage& msg, bool& more) {
  uint8_t buf[16384];
  const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
  more = n == static_cast<ssize_t>(sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return 0;
  if (n <= 0) {
    disconnect(fd);
    return 0;
  }
  parser.feed(std::span<const uint8_t>(buf, static_cast<size_t>(n)));
  size_t reports = 0;
  SimParse status;
  while ((status = parser.next(msg)) == SimParse::Message) {
    if (msg.type == kSimInput) ++reports;
    handle(msg);
  }
  if (status == SimParse::Bad) disconnect(fd);
  return reports;
}

void SimBackend::handle(const SimMessage& msg) {
  switch (msg.type) {
    case kSimOpenResult: {
      std::lock_guard lk(m_);
      if (!opening_) break;
      openResult_ = msg.payload[0] == 1 ? 1 : 0;
      if (openResult_ == 1) {
        devQueue_.reset();
        devOpen_ = true;
      }
      cv_.notify_all();
      break;
    }
    case kSimInput: {
      // A short report (the device sent less) is zero-filled; its length goes with it.
      uint8_t report[kReportSize] = {};
      std::memcpy(report, msg.payload.data(), msg.payload.size());
      {
        std::lock_guard lk(m_);
        if (!devOpen_) break;
        if (ring_ != nullptr) {
          ring_->push(report, 0, msg.payload.size());
          break;
        }
      }
      devQueue_.push(report, draining_ ? kDrainRoomWaitMs : 0, msg.payload.size());
      break;
    }
    case kSimNotice:
      handleNotice(msg);
      break;
    default:
      break;  // unknown types are skipped
  }
}

void SimBackend::handleNotice(const SimMessage& msg) {
  const uint8_t event = msg.payload[0];
  if (event > 2) return;
  std::string path(msg.payload.begin() + 1, msg.payload.end());
  bool gone = false;
  bool announce = true;
  {
    std::lock_guard lk(m_);
    if (event == 2) {
      // Present when we connected: like a device already attached at start, this is news
      // only when the simulator came up while we were waiting for it.
      plugged_.insert(path);
      announce = announcePresent_;
    } else if (event == 1) {
      plugged_.insert(path);
    } else {
      plugged_.erase(path);
      if (devOpen_ && sameDevice(path, openId_)) {
        devOpen_ = false;
        gone = true;
      }
    }
  }
  if (gone) {
    devQueue_.close();
    wakeRing();
  }
  if (announce) hub_.post(event == 0 ? HIDPIPE_REMOVAL : HIDPIPE_ARRIVAL, std::move(path));
}

void SimBackend::disconnect(int fd) {
  std::set<std::string> gone;
  {
    std::lock_guard w(writeMutex_);
    std::lock_guard lk(m_);
    if (fd_ != fd) return;
    ::close(fd_);
    fd_ = -1;
    gone.swap(plugged_);
    devOpen_ = false;
    if (opening_) openResult_ = 0;
    cv_.notify_all();
  }
  devQueue_.close();
  wakeRing();
  // A simulator that went away took its devices with it.
  for (const std::string& path : gone) hub_.post(HIDPIPE_REMOVAL, path);
}

}  // namespace hidpipe
