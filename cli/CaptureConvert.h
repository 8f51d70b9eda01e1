// `vantrel capture convert IN OUT`: a capture into the HID tools' recorder format, or
// such a recording into a capture (the direction follows from IN).
#pragma once

#include <string>

namespace CLI {
class App;
}

struct ConvertArgs {
  std::string in;
  std::string out;
};

// Adds "convert" under the capture subcommand.
CLI::App* AddCaptureConvert(CLI::App& capture, ConvertArgs& args);
int RunCaptureConvert(const ConvertArgs& args);
