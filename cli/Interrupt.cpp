#include "cli/Interrupt.h"

#include <csignal>

namespace {
volatile std::sig_atomic_t g_signal = 0;

void OnSignal(int sig) {
  g_signal = sig;
  std::signal(sig, SIG_DFL);
}
}  // namespace

void InstallInterruptHandlers() {
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGHUP, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
}

bool Interrupted() {
  return g_signal != 0;
}

int InterruptSignal() {
  return g_signal;
}

void Interrupt(int sig) {
  if (g_signal == 0) g_signal = sig;
}

int InterruptedExitCode() {
  const int sig = g_signal;
  return sig == SIGHUP || sig == SIGPIPE ? 128 + sig : 130;
}
