// Command line of the tpcsim program.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/ControllerConfig.h"

namespace tpcsim {

struct SimOptions {
  bool usb = false;
  bool serial = false;
  std::string socketPath;
  std::string linkPath;
  std::string controlPath;
  std::string tracePath;
  std::string replayPath;    // serve this capture instead of the firmware
  double replaySpeed = 1.0;  // factor of the recorded timing
  bool replayLoop = false;
  bool identityGiven = false;  // --vid, --pid or --iface on the command line
  bool readStdin = true;
  int scpiPort = -1;  // the simulated signal generator on 127.0.0.1 (0: a free port); -1 none
  bool help = false;
  bool version = false;
  ControllerConfig config;
};

// Parses argv; on a bad option returns nullopt and fills `error`.
std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args, std::string& error);
const char* SimOptionsUsage();

// $XDG_RUNTIME_DIR/tpcsim or /tmp/tpcsim-<uid>, created with mode 0700 and
// checked to belong to this user alone.
std::optional<std::string> PrivateSimDir(std::string& error);

}  // namespace tpcsim
