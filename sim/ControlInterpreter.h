// The line-based control channel: one command per line, answered by one line,
// "ok" (possibly followed by details) or "error: ...".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/SimDevice.h"

namespace tpcsim {
class SimGenerator;
class ScpiServer;
}

namespace tpcsim {

class ControlInterpreter {
 public:
  explicit ControlInterpreter(std::vector<SimDevice*> devices) : devices_(std::move(devices)) {}

  std::string Execute(std::string_view line);
  bool QuitRequested() const { return quit_; }
  // The simulated signal generator (tpcsim --scpi) and its socket.
  void SetGenerator(SimGenerator* generator, ScpiServer* server) {
    generator_ = generator;
    scpi_ = server;
  }
  // The generator's noise into every controller (after each SCPI message).
  void ApplyGenerator();

  // Command summary for --help and the "help" command.
  static const char* Usage();
  // A whole argument as a number; nothing for anything else.
  static std::optional<double> ParseNumber(const std::string& s);

 private:
  using Args = std::vector<std::string>;
  // The command's handlers: the words of the line (the command first), or the line itself
  // for texts with blanks.
  std::string Quit();
  std::string Plug(const Args& args);
  std::string Nak(const Args& args);
  std::string NoiseSource(const Args& args);
  std::string Silence(const Args& args);
  std::string FaultEvery(const Args& args);
  std::string Rate(const Args& args);
  std::string Stream(const Args& args);
  std::string StreamSwitch(const Args& args);
  std::string CalibrateDelay(const Args& args);
  std::string CalibrateOutcome(const Args& args);
  std::string Detail(const Args& args);
  std::string VersionText(std::string_view line);
  std::string DeviceText(std::string_view line);
  std::string Touch(const std::vector<std::string>& args);
  std::string Electrode(const std::vector<std::string>& args);
  std::string TouchFault(const std::vector<std::string>& args);  // ControlTouchFaults.cpp
  std::string PanelMm(const std::vector<std::string>& args);
  std::string Generator(const std::vector<std::string>& args);  // ControlGenerator.cpp
  std::string Status();
  std::string GeneratorText() const;
  std::string Stats();

  template <class Fn>
  void ForAll(Fn fn) {
    for (SimDevice* d : devices_) fn(*d);
  }

  std::vector<SimDevice*> devices_;
  bool quit_ = false;
  SimGenerator* generator_ = nullptr;
  ScpiServer* scpi_ = nullptr;
};

}  // namespace tpcsim
