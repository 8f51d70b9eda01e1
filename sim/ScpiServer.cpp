#include "sim/ScpiServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tpcsim {

ScpiServer::~ScpiServer() {
  DropAll();
  if (listenFd_ >= 0) {
    loop_.Unwatch(listenFd_);
    close(listenFd_);
  }
}

bool ScpiServer::Listen(int port, std::string& error) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int one = 1;
  if (listenFd_ >= 0) setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(listenFd_, 4) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    error = "--scpi " + std::to_string(port) + ": cannot listen on 127.0.0.1: " +
            std::strerror(errno);
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  port_ = ntohs(a.sin_port);
  loop_.Watch(listenFd_, POLLIN, [this](short) { Accept(); });
  return true;
}

void ScpiServer::Accept() {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    conns_.push_back(Conn{fd, {}, {}});
    Conn* c = &conns_.back();
    loop_.Watch(fd, POLLIN, [this, c](short ev) { OnReadable(*c, ev); });
  }
}

void ScpiServer::Drop(Conn& c) {
  loop_.Unwatch(c.fd);
  close(c.fd);
  for (auto it = conns_.begin(); it != conns_.end(); ++it) {
    if (&*it == &c) {
      conns_.erase(it);
      return;
    }
  }
}

void ScpiServer::DropAll() {
  while (!conns_.empty()) Drop(conns_.front());
}

void ScpiServer::OnReadable(Conn& c, short revents) {
  if (revents & POLLOUT) Flush(c);
  if (!(revents & (POLLIN | POLLHUP | POLLERR))) return;
  char buf[4096];
  const ssize_t n = read(c.fd, buf, sizeof buf);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    Drop(c);
    return;
  }
  c.in.append(buf, static_cast<size_t>(n));
  size_t start = 0, nl;
  bool any = false;
  while ((nl = c.in.find('\n', start)) != std::string::npos) {
    const std::string line = c.in.substr(start, nl - start);
    start = nl + 1;
    const std::string answer = generator_.Execute(line);
    if (!answer.empty()) c.out += answer + "\n";
    any = true;
  }
  c.in.erase(0, start);
  if (c.in.size() > kMaxLine) c.in.clear();
  if (any && changed_) changed_();
  Flush(c);
}

void ScpiServer::Flush(Conn& c) {
  while (!c.out.empty()) {
    const ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n <= 0) break;
    c.out.erase(0, static_cast<size_t>(n));
  }
  loop_.SetEvents(c.fd, c.out.empty() ? POLLIN : POLLIN | POLLOUT);
}

}  // namespace tpcsim
