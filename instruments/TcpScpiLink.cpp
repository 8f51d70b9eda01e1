#include "instruments/TcpScpiLink.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace instruments {

namespace {
constexpr int kConnectMs = 3000;
}

std::string TcpScpiLink::Address() const {
  const bool v6 = host_.find(':') != std::string::npos;
  return "tcp://" + (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

bool TcpScpiLink::Fail(const std::string& what, std::string& error) {
  error = Address() + ": " + what;
  return false;
}

bool TcpScpiLink::Open(std::string& error) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host_.c_str(), std::to_string(port_).c_str(), &hints, &found);
  if (rc != 0) return Fail(::gai_strerror(rc), error);
  std::string why = "cannot connect";
  for (addrinfo* a = found; a; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) continue;
    int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (r != 0 && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int soErr = ETIMEDOUT;
      if (::poll(&p, 1, kConnectMs) == 1) {
        socklen_t len = sizeof soErr;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soErr, &len);
      }
      r = soErr == 0 ? 0 : -1;
      errno = soErr;
    }
    if (r == 0) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      fd_ = fd;
      break;
    }
    why = std::string("cannot connect: ") + std::strerror(errno);
    ::close(fd);
  }
  ::freeaddrinfo(found);
  if (fd_ < 0) return Fail(why, error);
  lost_ = false;
  pending_.clear();
  return true;
}

void TcpScpiLink::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TcpScpiLink::Write(const std::string& message, std::string& error) {
  if (fd_ < 0) return Fail("not connected", error);
  const std::string text = message + "\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, kConnectMs) == 1) continue;
    }
    lost_ = true;
    return Fail("connection lost (" + std::string(std::strerror(errno)) + ")", error);
  }
  return true;
}

bool TcpScpiLink::ReadLine(std::string& line, int timeoutMs, std::string& error) {
  if (fd_ < 0) return Fail("not connected", error);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (TakeLine(pending_, line)) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return Fail("no answer within " + std::to_string(timeoutMs) + " ms", error);
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buf[1024];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n > 0) {
      pending_.append(buf, static_cast<size_t>(n));
      if (pending_.size() > 1 << 20) pending_.clear();  // no line in a megabyte: not SCPI
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    lost_ = true;
    return Fail("connection lost", error);
  }
}

}  // namespace instruments
