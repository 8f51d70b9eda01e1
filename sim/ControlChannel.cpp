#include "sim/ControlChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tpcsim {

ControlChannel::~ControlChannel() {
  for (Conn& c : conns_) {
    loop_.Unwatch(c.inFd);
    if (!c.isStdin) close(c.inFd);
  }
  if (listenFd_ >= 0) {
    loop_.Unwatch(listenFd_);
    close(listenFd_);
    unlink(path_.c_str());
  }
}

void ControlChannel::WatchStdin() {
  conns_.push_back(Conn{STDIN_FILENO, STDOUT_FILENO, {}, {}, true});
  Conn* c = &conns_.back();
  loop_.Watch(STDIN_FILENO, POLLIN, [this, c](short ev) { OnReadable(*c, ev); });
}

bool ControlChannel::ListenSocket(const std::string& path, std::string& error) {
  sockaddr_un a{};
  if (path.size() >= sizeof a.sun_path) {
    error = "control socket path too long: " + path;
    return false;
  }
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      error = "control path exists and is not a socket: " + path;
      return false;
    }
    unlink(path.c_str());
  }
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  mode_t old = umask(0077);
  int rc = listenFd_ < 0 ? -1 : bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  umask(old);
  if (rc != 0 || listen(listenFd_, 8) != 0) {
    error = "cannot listen on " + path + ": " + std::strerror(errno);
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  path_ = path;
  loop_.Watch(listenFd_, POLLIN, [this](short) { Accept(); });
  return true;
}

void ControlChannel::Accept() {
  for (;;) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    conns_.push_back(Conn{fd, fd, {}, {}, false});
    Conn* c = &conns_.back();
    loop_.Watch(fd, POLLIN, [this, c](short ev) { OnReadable(*c, ev); });
  }
}

void ControlChannel::Drop(Conn& c) {
  loop_.Unwatch(c.inFd);
  if (!c.isStdin) close(c.inFd);
  for (auto it = conns_.begin(); it != conns_.end(); ++it) {
    if (&*it == &c) {
      conns_.erase(it);
      return;
    }
  }
}

void ControlChannel::OnReadable(Conn& c, short revents) {
  if ((revents & POLLOUT) && !c.isStdin) Flush(c);
  if (!(revents & (POLLIN | POLLHUP | POLLERR))) return;
  char buf[4096];
  ssize_t n = read(c.inFd, buf, sizeof buf);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    // End of input: a last line without newline still counts.
    if (!c.in.empty()) Answer(c, c.in);
    Drop(c);
    return;
  }
  c.in.append(buf, static_cast<size_t>(n));
  size_t start = 0, nl;
  while ((nl = c.in.find('\n', start)) != std::string::npos) {
    std::string line = c.in.substr(start, nl - start);
    start = nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    Answer(c, line);
  }
  c.in.erase(0, start);
  if (c.in.size() > kMaxLine) {
    c.in.clear();
    Answer(c, "");  // answered with an error; the overlong line is dropped
  }
}

void ControlChannel::Answer(Conn& c, const std::string& line) {
  std::string reply =
      line.empty() ? std::string("error: line too long") : interpreter_.Execute(line);
  c.out += reply + "\n";
  Flush(c);
  if (interpreter_.QuitRequested()) loop_.Stop();
}

void ControlChannel::Flush(Conn& c) {
  if (c.isStdin) {
    // Standard output is written blocking: answers are short and few.
    while (!c.out.empty()) {
      ssize_t n = write(c.outFd, c.out.data(), c.out.size());
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        c.out.clear();
        break;
      }
      c.out.erase(0, static_cast<size_t>(n));
    }
    return;
  }
  while (!c.out.empty()) {
    ssize_t n = send(c.outFd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n <= 0) break;
    c.out.erase(0, static_cast<size_t>(n));
  }
  loop_.SetEvents(c.inFd, c.out.empty() ? POLLIN : POLLIN | POLLOUT);
}

}  // namespace tpcsim
