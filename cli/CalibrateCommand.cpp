#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "cli/Subcommands.h"

using Result = ControllerSession::Result;

namespace {

int RunCalibrate(const GlobalOptions& g, double timeoutS) {
  int code = 0;
  auto s = Connect(g, code);
  if (!s) return code;
  std::cerr << "Calibration: Do not touch the glass!       Please wait ...\n";
  const Result r = s->Command("SEND 024C0101 ", static_cast<int>(timeoutS * 1000));
  if (r == Result::kOk) {
    std::cerr << "Calibration finished.\n";
    return kExitPass;
  }
  if (r == Result::kRefused) {
    std::cerr << "Calibration: ERROR ! Firmware's response is NOT OK.\n";
    return kExitFail;
  }
  return Complain(s->Error(), ExitFor(r));
}

}  // namespace

Subcommand AddCalibrateCommand(CLI::App& app, const GlobalOptions& g) {
  auto timeoutS = std::make_shared<double>(60);
  auto* sub = app.add_subcommand("calibrate",
                                 "calibrate the controller (do not touch "
                                 "the glass); exit 0 finished, 1 refused");
  sub->add_option("--timeout", *timeoutS, "seconds to wait for the end (default 60)")
      ->check(CLI::Range(1.0, 3600.0));
  return {sub, [&g, timeoutS] { return RunCalibrate(g, *timeoutS); }};
}
