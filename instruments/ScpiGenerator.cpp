#include "instruments/ScpiGenerator.h"

#include <cstdio>

namespace instruments {

const char* WaveformName(Waveform w) {
  return w == Waveform::kSquare ? "square" : "sine";
}

std::string ScpiGenerator::Number(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.10G", v);
  return b;
}

ScpiGenerator::~ScpiGenerator() {
  std::string ignored;
  if (mayBeOn_) OutputOff(ignored);
  scpi_.Close();
}

bool ScpiGenerator::Start(std::string& identity, std::string& error) {
  if (!scpi_.Connect(error)) return false;
  connected_ = true;
  if (!scpi_.Query("*IDN?", identity, error)) return false;
  // Errors left from before are not ours: cleared, then a known state.
  if (!scpi_.Set("*CLS", error)) return false;
  mayBeOn_ = true;  // a reset generator may still be driving until it says it is not
  if (!scpi_.Set("*RST", error)) return false;
  return OutputOff(error);
}

bool ScpiGenerator::Configure(Waveform waveform, double vpp, std::string& error) {
  return scpi_.Set(waveform == Waveform::kSquare ? "FUNC SQU" : "FUNC SIN", error) &&
         scpi_.Set("VOLT:UNIT VPP", error) && scpi_.Set("VOLT " + Number(vpp), error);
}

bool ScpiGenerator::SetFrequency(double hz, std::string& error) {
  return scpi_.Set("FREQ " + Number(hz), error);
}

bool ScpiGenerator::OutputOn(std::string& error) {
  mayBeOn_ = true;
  return scpi_.Set("OUTP ON", error);
}

bool ScpiGenerator::OutputOff(std::string& error) {
  if (!connected_) return true;
  // Over the connection there is, else over a new one.
  if (!scpi_.Lost() && scpi_.Set("OUTP OFF", error)) {
    mayBeOn_ = false;
    return true;
  }
  std::string first = error;
  if (scpi_.Reconnect(error) && scpi_.Set("OUTP OFF", error)) {
    mayBeOn_ = false;
    return true;
  }
  if (!first.empty()) error = first + "; again: " + error;
  return false;
}

}  // namespace instruments
