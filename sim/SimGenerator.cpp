#include "sim/SimGenerator.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace tpcsim {

namespace {

constexpr size_t kQueueSize = 20;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// A mnemonic in its short or long form, numeric suffix left out; its short form, or ""
// for one not known.
std::string Short(std::string m) {
  while (!m.empty() && std::isdigit(static_cast<unsigned char>(m.back()))) m.pop_back();
  static const char* const kForms[][2] = {
      {"SOUR", "SOURCE"}, {"FUNC", "FUNCTION"}, {"SHAP", "SHAPE"}, {"FREQ", "FREQUENCY"},
      {"CW", "CW"},       {"FIX", "FIXED"},     {"VOLT", "VOLTAGE"}, {"LEV", "LEVEL"},
      {"IMM", "IMMEDIATE"}, {"AMPL", "AMPLITUDE"}, {"UNIT", "UNIT"}, {"OUTP", "OUTPUT"},
      {"STAT", "STATE"},  {"SYST", "SYSTEM"},   {"ERR", "ERROR"},   {"NEXT", "NEXT"}};
  for (const auto& f : kForms)
    if (m == f[0] || m == f[1]) return f[0];
  return "";
}

// "SOURce1:FREQuency:CW" into "FREQ"; "" for a header not known.
std::string Canonical(const std::string& header) {
  std::vector<std::string> parts;
  std::istringstream in(Upper(header));
  std::string p;
  while (std::getline(in, p, ':'))
    if (!p.empty()) parts.push_back(p);
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string s = Short(parts[i]);
    if (s.empty()) return "";
    if (i == 0 && s == "SOUR") continue;
    if (s == "SHAP" || s == "CW" || s == "FIX" || s == "LEV" || s == "IMM" || s == "AMPL" ||
        s == "STAT" || s == "NEXT")
      continue;
    out += (out.empty() ? "" : ":") + s;
  }
  return out;
}

// "150000", "150 kHz", "1.5E+05", "10 VPP": the number; false for anything else.
bool Number(const std::string& text, double& out) {
  const std::string t = Upper(Trim(text));
  char* end = nullptr;
  out = std::strtod(t.c_str(), &end);
  if (end == t.c_str()) return false;
  const std::string unit = Trim(end);
  if (unit.empty() || unit == "HZ" || unit == "V" || unit == "VPP") return true;
  if (unit == "KHZ") return out *= 1e3, true;
  if (unit == "MHZ") return out *= 1e6, true;
  if (unit == "MV") return out *= 1e-3, true;
  return false;
}

std::string Format(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.10G", v);
  return b;
}

}  // namespace

void SimGenerator::Error(int code, const char* text) {
  if (errors_.size() >= kQueueSize) {
    errors_.back() = "-350,\"Queue overflow\"";
    return;
  }
  errors_.push_back(std::to_string(code) + ",\"" + text + "\"");
}

void SimGenerator::Reset() {
  output_ = false;
  hz_ = 1000;
  vpp_ = 0.1;
  function_ = "SIN";
}

std::string SimGenerator::Execute(const std::string& message) {
  std::string answers;
  std::istringstream in(message);
  std::string command;
  while (std::getline(in, command, ';')) {
    command = Trim(command);
    if (command.empty()) continue;
    const std::string a = One(command);
    if (!a.empty()) answers += (answers.empty() ? "" : ";") + a;
  }
  return answers;
}

std::string SimGenerator::One(const std::string& command) {
  const size_t space = command.find_first_of(" \t");
  std::string header = command.substr(0, space);
  const std::string arg = space == std::string::npos ? "" : Trim(command.substr(space));
  const bool query = !header.empty() && header.back() == '?';
  if (query) header.pop_back();
  const std::string up = Upper(header);

  if (up == "*IDN" && query) return "tpcsim,simulated signal generator,0,1.0";
  if (up == "*OPC" && query) return "1";
  if (up == "*OPC" || up == "*WAI") return "";
  if (up == "*RST" && !query) return Reset(), "";
  if (up == "*CLS" && !query) return errors_.clear(), "";

  const std::string key = header.rfind('*', 0) == 0 ? "" : Canonical(header);
  if (key.empty()) {
    Error(-113, "Undefined header");
    return "";
  }
  if (!refused_.empty() && key == Canonical(refused_)) {
    Error(-200, "Execution error");
    return query ? "0" : "";
  }
  if (key == "SYST:ERR" && query) {
    if (errors_.empty()) return "0,\"No error\"";
    const std::string e = errors_.front();
    errors_.pop_front();
    return e;
  }
  if (query) {
    if (key == "FREQ") return Format(hz_);
    if (key == "VOLT") return Format(vpp_);
    if (key == "VOLT:UNIT") return "VPP";
    if (key == "FUNC") return function_;
    if (key == "OUTP") return output_ ? "1" : "0";
    Error(-113, "Undefined header");
    return "";
  }
  if (arg.empty()) {
    Error(-109, "Missing parameter");
    return "";
  }
  double v = 0;
  const std::string word = Upper(arg);
  if (key == "FREQ") {
    if (!Number(arg, v)) return Error(-224, "Illegal parameter value"), "";
    if (!(v >= 1e-3 && v <= kMaxHz)) return Error(-222, "Data out of range"), "";
    hz_ = v;
  } else if (key == "VOLT") {
    if (!Number(arg, v)) return Error(-224, "Illegal parameter value"), "";
    if (!(v >= 1e-3 && v <= kMaxVpp)) return Error(-222, "Data out of range"), "";
    vpp_ = v;
  } else if (key == "VOLT:UNIT") {
    if (word != "VPP") return Error(-224, "Illegal parameter value"), "";
  } else if (key == "FUNC") {
    if (word == "SIN" || word == "SINUSOID")
      function_ = "SIN";
    else if (word == "SQU" || word == "SQUARE")
      function_ = "SQU";
    else
      return Error(-224, "Illegal parameter value"), "";
  } else if (key == "OUTP") {
    if (word == "ON" || word == "1")
      output_ = true;
    else if (word == "OFF" || word == "0")
      output_ = false;
    else
      return Error(-224, "Illegal parameter value"), "";
  } else {
    Error(-113, "Undefined header");
  }
  return "";
}

double SimGenerator::ConductedCounts() const {
  if (!output_) return 0;
  double gain = 0;
  for (const NoiseBand& b : bands_)
    if (hz_ >= b.fromHz && hz_ <= b.toHz) gain = std::max(gain, b.gain);
  return gain * vpp_;
}

int SimGenerator::ConductedGhosts() const {
  return ghostLevel_ > 0 && ConductedCounts() >= ghostLevel_ ? ghostCount_ : 0;
}

std::string SimGenerator::Text() const {
  return std::string("output=") + (output_ ? "on" : "off") + " freq=" + Format(hz_) +
         " vpp=" + Format(vpp_) + " func=" + function_ +
         " conducted=" + Format(ConductedCounts()) +
         " errors=" + std::to_string(errors_.size());
}

}  // namespace tpcsim
