// Every way the program is asked to end early: Ctrl+C, SIGTERM, a closed terminal
// (SIGHUP), and a reader of standard output that went away (SIGPIPE is ignored; the failed
// write asks to stop instead). The first one asks the running work to stop, so that the
// controller is left as it was found; a second signal ends the program at once.
#pragma once

void InstallInterruptHandlers();
bool Interrupted();
// The signal that asked to stop (0: none).
int InterruptSignal();
// Asks the running work to stop as that signal would.
void Interrupt(int sig);
// The exit code of a run that was stopped: 128 + the signal, 130 for Ctrl+C and SIGTERM.
int InterruptedExitCode();
