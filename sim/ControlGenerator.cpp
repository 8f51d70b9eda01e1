// Control commands for the simulated signal generator and the panel's susceptibility.
#include <cmath>
#include <string>

#include "sim/ControlInterpreter.h"
#include "sim/ScpiServer.h"
#include "sim/SimGenerator.h"

namespace tpcsim {

void ControlInterpreter::ApplyGenerator() {
  if (!generator_) return;
  for (SimDevice* d : devices_)
    d->Controller().SetConducted(generator_->ConductedCounts(), generator_->ConductedGhosts());
}

std::string ControlInterpreter::GeneratorText() const {
  if (!generator_) return "none";
  return "scpi=" + std::to_string(scpi_ ? scpi_->Port() : 0) + " " + generator_->Text() +
         " connections=" + std::to_string(scpi_ ? scpi_->Connections() : 0);
}

std::string ControlInterpreter::Generator(const std::vector<std::string>& a) {
  if (!generator_) return "error: no generator (start tpcsim with --scpi PORT)";
  const std::string& cmd = a[0];
  if (cmd == "generator" && a.size() == 1) return "ok " + GeneratorText();
  if (cmd == "scpi-drop" && a.size() == 1) {
    if (scpi_) scpi_->DropAll();
    return "ok";
  }
  if (cmd == "scpi-refuse" && a.size() == 2) {
    generator_->Refuse(a[1] == "off" ? "" : a[1]);
    return "ok";
  }
  if (cmd == "noise-band" && a.size() == 2 && a[1] == "off") {
    generator_->ClearBands();
    ApplyGenerator();
    return "ok";
  }
  if (cmd == "noise-band" && a.size() == 4) {
    const auto from = ParseNumber(a[1]), to = ParseNumber(a[2]), gain = ParseNumber(a[3]);
    if (!from || !to || !gain || !(*from >= 0) || !(*to >= *from) || !(*gain >= 0) ||
        *gain > 1000)
      return "error: noise-band: from <= to (Hz), gain 0 to 1000 counts per Vpp";
    generator_->AddBand(NoiseBand{*from, *to, *gain});
    ApplyGenerator();
    return "ok";
  }
  if (cmd == "noise-ghosts" && (a.size() == 2 || a.size() == 3)) {
    const auto level = ParseNumber(a[1]);
    const auto n = a.size() == 3 ? ParseNumber(a[2]) : std::optional<double>(1);
    if (!level || !n || *level < 0 || *n < 0 || *n > 5 || *n != std::floor(*n))
      return "error: noise-ghosts: a level in counts (0: never), 0 to 5 contacts";
    generator_->SetGhostLevel(*level, static_cast<int>(*n));
    ApplyGenerator();
    return "ok";
  }
  return "error: usage: noise-band <from> <to> <gain> | off; noise-ghosts <level> [n]; "
         "generator; scpi-refuse <header>|off; scpi-drop";
}

}  // namespace tpcsim
