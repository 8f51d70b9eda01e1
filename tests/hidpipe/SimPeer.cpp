#include "SimPeer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

SimPeer::SimPeer(std::string socketPath) : path_(std::move(socketPath)) {
  ::unlink(path_.c_str());
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 4) != 0 || ::pipe(wake_) != 0)
    throw std::runtime_error("SimPeer: cannot listen on " + path_);
  thread_ = std::thread([this] { run(); });
}

SimPeer::~SimPeer() {
  [[maybe_unused]] ssize_t n = ::write(wake_[1], "x", 1);
  thread_.join();
  {
    std::lock_guard lk(sendMutex_);
    if (client_ >= 0) ::close(client_);
    client_ = -1;
  }
  ::close(listenFd_);
  ::close(wake_[0]);
  ::close(wake_[1]);
  ::unlink(path_.c_str());
}

std::string SimPeer::devicePath() const {
  return "sim:" + path_ + "#VID_227D&PID_0102&MI_01";
}

void SimPeer::sendRaw(std::span<const uint8_t> bytes) {
  std::lock_guard lk(sendMutex_);
  if (client_ < 0) return;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(client_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void SimPeer::send(uint8_t type, std::span<const uint8_t> payload) {
  std::vector<uint8_t> msg = {type, static_cast<uint8_t>(payload.size() & 0xFF),
                              static_cast<uint8_t>(payload.size() >> 8)};
  msg.insert(msg.end(), payload.begin(), payload.end());
  sendRaw(msg);
}

void SimPeer::sendInput(uint32_t seq) {
  Report r{};
  r[0] = 0x02;
  r[1] = 0x4B;
  std::memcpy(r.data() + 4, &seq, sizeof seq);
  send(0x85, r);
}

void SimPeer::notice(bool arrival, const std::string& path) {
  std::vector<uint8_t> payload = {static_cast<uint8_t>(arrival ? 1 : 0)};
  payload.insert(payload.end(), path.begin(), path.end());
  send(0x81, payload);
}

void SimPeer::unplug() {
  {
    std::lock_guard lk(m_);
    plugged_ = false;
  }
  notice(false, devicePath());
}

void SimPeer::plug() {
  {
    std::lock_guard lk(m_);
    plugged_ = true;
  }
  notice(true, devicePath());
}

void SimPeer::setEcho(bool on) {
  std::lock_guard lk(m_);
  echo_ = on;
}

bool SimPeer::waitForClient(std::chrono::milliseconds timeout) {
  std::unique_lock lk(m_);
  return cv_.wait_for(lk, timeout, [&] { return clients_ > 0; });
}

bool SimPeer::waitForOutputs(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lk(m_);
  return cv_.wait_for(lk, timeout, [&] { return outputs_.size() >= count; });
}

bool SimPeer::waitForCloses(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lk(m_);
  return cv_.wait_for(lk, timeout, [&] { return closes_ >= count; });
}

std::vector<SimPeer::Report> SimPeer::outputs() {
  std::lock_guard lk(m_);
  return outputs_;
}

void SimPeer::handle(uint8_t type, const std::vector<uint8_t>& payload) {
  bool plugged, echo;
  {
    std::lock_guard lk(m_);
    plugged = plugged_;
    echo = echo_;
  }
  switch (type) {
    case 0x01:  // HELLO
      if (plugged) notice(true, devicePath());
      break;
    case 0x02: {  // OPEN
      const bool match = payload.size() == 5 && payload[0] == (kVid & 0xFF) &&
                         payload[1] == (kVid >> 8) && payload[2] == (kPid & 0xFF) &&
                         payload[3] == (kPid >> 8) && payload[4] == kIface;
      const uint8_t ok = plugged && match ? 1 : 0;
      send(0x83, std::span<const uint8_t>(&ok, 1));
      break;
    }
    case 0x03: {  // CLOSE
      std::lock_guard lk(m_);
      ++closes_;
      cv_.notify_all();
      break;
    }
    case 0x04: {  // OUTPUT
      if (!plugged || payload.size() != 64) break;
      Report r;
      std::memcpy(r.data(), payload.data(), 64);
      {
        std::lock_guard lk(m_);
        outputs_.push_back(r);
        cv_.notify_all();
      }
      if (echo) send(0x85, r);
      break;
    }
    default:
      break;
  }
}

void SimPeer::run() {
  std::vector<uint8_t> buf;
  for (;;) {
    int client;
    {
      std::lock_guard lk(sendMutex_);
      client = client_;
    }
    pollfd fds[3] = {{wake_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}, {client, POLLIN, 0}};
    if (::poll(fds, client >= 0 ? 3 : 2, -1) < 0) return;
    if (fds[0].revents != 0) return;
    if (fds[1].revents != 0) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        {
          std::lock_guard lk(sendMutex_);
          if (client_ >= 0) ::close(client_);
          client_ = fd;
        }
        buf.clear();
        std::lock_guard lk(m_);
        ++clients_;
        cv_.notify_all();
      }
      continue;
    }
    if (client >= 0 && fds[2].revents != 0) {
      uint8_t chunk[4096];
      const ssize_t n = ::recv(client, chunk, sizeof chunk, 0);
      if (n <= 0) {
        std::lock_guard lk(sendMutex_);
        if (client_ == client) {
          ::close(client_);
          client_ = -1;
        }
        continue;
      }
      buf.insert(buf.end(), chunk, chunk + n);
      while (buf.size() >= 3) {
        const size_t len = buf[1] | (size_t{buf[2]} << 8);
        if (buf.size() < 3 + len) break;
        const std::vector<uint8_t> payload(buf.begin() + 3, buf.begin() + 3 + len);
        const uint8_t type = buf[0];
        buf.erase(buf.begin(), buf.begin() + 3 + static_cast<std::ptrdiff_t>(len));
        handle(type, payload);
      }
    }
  }
}
