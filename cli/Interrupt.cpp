#include "cli/Interrupt.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

namespace {
std::atomic<int> g_signal{0};
int g_fd = -1;
sigset_t g_stopSignals;

// Takes a stop signal waiting on the descriptor. From then on the signals are no longer
// blocked here: a second one ends the program at once, as without a handler.
void TakeSignal() {
  if (g_fd < 0) return;
  signalfd_siginfo info{};
  while (::read(g_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    int none = 0;
    g_signal.compare_exchange_strong(none, static_cast<int>(info.ssi_signo));
    ::pthread_sigmask(SIG_UNBLOCK, &g_stopSignals, nullptr);
  }
}
}  // namespace

void InstallInterruptHandlers() {
  ::sigemptyset(&g_stopSignals);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    ::signal(sig, SIG_DFL);  // an inherited "ignore" would make the second one ignored too
    ::sigaddset(&g_stopSignals, sig);
  }
  ::signal(SIGPIPE, SIG_IGN);
  ::pthread_sigmask(SIG_BLOCK, &g_stopSignals, nullptr);
  g_fd = ::signalfd(-1, &g_stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
}

bool Interrupted() {
  if (g_signal.load() == 0) TakeSignal();
  return g_signal.load() != 0;
}

int InterruptSignal() {
  Interrupted();
  return g_signal.load();
}

void Interrupt(int sig) {
  int none = 0;
  g_signal.compare_exchange_strong(none, sig);
}

int InterruptedExitCode() {
  const int sig = InterruptSignal();
  return sig == SIGHUP || sig == SIGPIPE ? 128 + sig : 130;
}

int InterruptFd() {
  return g_fd;
}

bool WaitReadableOrInterrupt(pollfd* fds, int count, int timeoutMs) {
  std::vector<pollfd> all(fds, fds + count);
  all.push_back(pollfd{g_fd, POLLIN, 0});
  for (pollfd& p : all) p.revents = 0;
  if (Interrupted()) return false;
  const int n = ::poll(all.data(), all.size(), timeoutMs);
  for (int i = 0; i < count; ++i) fds[i].revents = n > 0 ? all[static_cast<size_t>(i)].revents : 0;
  return !Interrupted();
}

EnterResult AwaitEnterKey() {
  for (;;) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (!WaitReadableOrInterrupt(&in, 1, -1)) return EnterResult::kInterrupted;
    if (in.revents == 0) continue;
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n == 1 && c == '\n') return EnterResult::kPressed;
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return EnterResult::kEnded;
  }
}
