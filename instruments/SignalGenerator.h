// A signal generator as a noise sweep drives it: identified and reset at the start, set
// to a waveform and amplitude, then stepped through frequencies with its output on. Its
// output is switched off on every way out; OutputOff() tries hard (a lost connection is
// made again for it).
#pragma once

#include <string>

namespace instruments {

enum class Waveform { kSquare, kSine };
const char* WaveformName(Waveform w);  // "square", "sine"

class SignalGenerator {
 public:
  virtual ~SignalGenerator() = default;
  // Identity ("*IDN?" answer) and a reset. False with the reason.
  virtual bool Start(std::string& identity, std::string& error) = 0;
  virtual bool Configure(Waveform waveform, double vpp, std::string& error) = 0;
  virtual bool SetFrequency(double hz, std::string& error) = 0;
  virtual bool OutputOn(std::string& error) = 0;
  // True once the output is known to be off.
  virtual bool OutputOff(std::string& error) = 0;
  virtual bool Lost() const = 0;
  virtual std::string Address() const = 0;
};

}  // namespace instruments
