// The subcommands of vantrel, each in a file of its own: its options on the command line
// and its run. Each run returns the program's exit code.
#pragma once

#include "cli/Commands.h"

Subcommand AddListCommand(CLI::App& app, const GlobalOptions& g);
Subcommand AddHidCommand(CLI::App& app);
Subcommand AddInfoCommand(CLI::App& app, const GlobalOptions& g);
Subcommand AddSendCommand(CLI::App& app, const GlobalOptions& g);
// capture, and its convert subcommand.
Subcommand AddCaptureCommand(CLI::App& app, const GlobalOptions& g);
Subcommand AddStatsCommand(CLI::App& app, const GlobalOptions& g);
Subcommand AddTestCommand(CLI::App& app, const GlobalOptions& g);
Subcommand AddLearnCommand(CLI::App& app, const GlobalOptions& g);
Subcommand AddCalibrateCommand(CLI::App& app, const GlobalOptions& g);
Subcommand AddTouchCommand(CLI::App& app, const GlobalOptions& g);
Subcommand AddNoiseSweepCommand(CLI::App& app, const GlobalOptions& g);
