// A signal generator set by hand: each setting asked for on the terminal, confirmed with
// Enter.
#pragma once

#include <string>

#include "instruments/ScpiGenerator.h"

// Waits for Enter on standard input; false when asked to stop or the input ended.
bool AwaitEnter(std::string& error);

class ManualGenerator : public instruments::SignalGenerator {
 public:
  bool Start(std::string& identity, std::string& error) override;
  bool Configure(instruments::Waveform w, double vpp, std::string& error) override;
  bool SetFrequency(double hz, std::string& error) override;
  bool OutputOn(std::string& error) override;
  bool OutputOff(std::string&) override;
  bool Lost() const override { return false; }
  std::string Address() const override { return "manual"; }

 private:
  static bool Ask(const std::string& prompt, std::string& error);
  bool on_ = false;
};
