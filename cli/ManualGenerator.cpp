#include "cli/ManualGenerator.h"

#include <iostream>

#include "analysis/NoiseSweep.h"
#include "cli/Interrupt.h"

bool AwaitEnter(std::string& error) {
  const EnterResult r = AwaitEnterKey();
  if (r == EnterResult::kEnded) error = "standard input ended before Enter was pressed";
  return r == EnterResult::kPressed;
}

bool ManualGenerator::Start(std::string& identity, std::string& error) {
  identity = "manual";
  return Ask("Switch the generator's output off and press Enter.", error);
}

bool ManualGenerator::Configure(instruments::Waveform w, double vpp, std::string& error) {
  return Ask(std::string("Set the generator to a ") + instruments::WaveformName(w) + " wave of " +
                 analysis::FormatNumber(vpp) + " Vpp and press Enter.",
             error);
}

bool ManualGenerator::SetFrequency(double hz, std::string& error) {
  return Ask("Set the generator to " + analysis::FrequencyText(hz) + " and press Enter.", error);
}

bool ManualGenerator::OutputOn(std::string& error) {
  on_ = true;
  return Ask("Switch the generator's output on and press Enter.", error);
}

bool ManualGenerator::OutputOff(std::string&) {
  if (on_) std::cerr << "Switch the generator's output off.\n" << std::flush;
  on_ = false;
  return true;
}

bool ManualGenerator::Ask(const std::string& prompt, std::string& error) {
  std::cerr << prompt << "\n" << std::flush;
  return AwaitEnter(error);
}
