// Every way the program is asked to end early: Ctrl+C, SIGTERM, a closed terminal
// (SIGHUP), and a reader of standard output that went away (SIGPIPE is ignored; the failed
// write asks to stop instead). The three signals are blocked and read from a signalfd, so
// every wait (on the controller, on standard input) wakes for them at once. The first one
// asks the running work to stop, so that the controller is left as it was found; a second
// signal ends the program at once.
#pragma once

#include <poll.h>

// Before any thread starts: the threads inherit the blocked signals.
void InstallInterruptHandlers();
bool Interrupted();
// The signal that asked to stop (0: none).
int InterruptSignal();
// Asks the running work to stop as that signal would.
void Interrupt(int sig);
// The exit code of a run that was stopped: 128 + the signal, 130 for Ctrl+C and SIGTERM.
int InterruptedExitCode();
// The descriptor poll() sees readable while a stop signal waits to be taken (-1 before
// InstallInterruptHandlers).
int InterruptFd();
// Waits up to timeoutMs (-1: without end) until one of fds is readable or a stop is asked
// for; the fds' revents are filled (an fd of -1 is left out). False when a stop was asked
// for.
bool WaitReadableOrInterrupt(pollfd* fds, int count, int timeoutMs);

enum class EnterResult { kPressed, kEnded, kInterrupted };
// Waits for Enter on standard input (kEnded: the input ended first).
EnterResult AwaitEnterKey();
