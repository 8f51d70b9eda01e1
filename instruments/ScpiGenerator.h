// A bench signal generator driven with SCPI: *IDN?, *RST, FUNC, VOLT:UNIT VPP, VOLT,
// FREQ, OUTP; each setting confirmed with *OPC? and checked with SYST:ERR?.
#pragma once

#include <memory>

#include "instruments/ScpiInstrument.h"
#include "instruments/SignalGenerator.h"

namespace instruments {

class ScpiGenerator : public SignalGenerator {
 public:
  ScpiGenerator(std::unique_ptr<ScpiLink> link, int timeoutMs) : scpi_(std::move(link), timeoutMs) {}
  ~ScpiGenerator() override;

  bool Start(std::string& identity, std::string& error) override;
  bool Configure(Waveform waveform, double vpp, std::string& error) override;
  bool SetFrequency(double hz, std::string& error) override;
  bool OutputOn(std::string& error) override;
  bool OutputOff(std::string& error) override;
  bool Lost() const override { return scpi_.Lost(); }
  std::string Address() const override { return scpi_.Address(); }

  // The number as the generator is sent it: "150000", "1.5E+06" style without loss.
  static std::string Number(double v);

 private:
  ScpiInstrument scpi_;
  bool connected_ = false;
  bool mayBeOn_ = false;  // OUTP ON was sent and no OUTP OFF confirmed since
};

}  // namespace instruments
