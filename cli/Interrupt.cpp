#include "cli/Interrupt.h"

#include <csignal>

namespace {
volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int sig) {
  g_interrupted = 1;
  std::signal(sig, SIG_DFL);
}
}  // namespace

void InstallInterruptHandlers() {
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
}

bool Interrupted() {
  return g_interrupted != 0;
}
