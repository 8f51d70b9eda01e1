#include "sim/SimLoop.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

namespace tpcsim {

void SimLoop::Watch(int fd, short events, FdHandler handler) {
  watched_[fd] = Watched{events, std::move(handler)};
}

void SimLoop::SetEvents(int fd, short events) {
  auto it = watched_.find(fd);
  if (it != watched_.end()) it->second.events = events;
}

void SimLoop::Unwatch(int fd) {
  watched_.erase(fd);
}

bool SimLoop::Run() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  if (sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) return false;
  int sigFd = signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
  if (sigFd < 0) return false;

  std::vector<pollfd> fds;
  while (!stop_) {
    for (auto& t : timers_) t.service();
    if (stop_) break;

    int64_t now = clock_.NowUs();
    int64_t wake = std::numeric_limits<int64_t>::max();
    for (auto& t : timers_) wake = std::min(wake, t.nextWakeUs());

    fds.clear();
    fds.push_back(pollfd{sigFd, POLLIN, 0});
    for (auto& [fd, w] : watched_) fds.push_back(pollfd{fd, w.events, 0});

    timespec ts{};
    timespec* timeout = nullptr;
    if (wake != std::numeric_limits<int64_t>::max()) {
      int64_t d = std::max<int64_t>(wake - now, 0);
      ts.tv_sec = d / 1'000'000;
      ts.tv_nsec = (d % 1'000'000) * 1000;
      timeout = &ts;
    }
    int n = ppoll(fds.data(), fds.size(), timeout, nullptr);
    if (n < 0) continue;  // EINTR
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      (void)!read(sigFd, &info, sizeof info);  // taken here, so unblocking cannot kill us
      break;
    }
    for (size_t i = 1; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      auto it = watched_.find(fds[i].fd);
      if (it == watched_.end()) continue;  // unwatched by an earlier handler
      FdHandler h = it->second.handler;    // the handler may unwatch itself
      h(fds[i].revents);
      if (stop_) break;
    }
  }
  close(sigFd);
  sigprocmask(SIG_UNBLOCK, &stopSignals, nullptr);
  return true;
}

}  // namespace tpcsim
