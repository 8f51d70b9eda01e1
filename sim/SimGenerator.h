// The bench's signal generator, simulated: answers the SCPI subset a noise sweep uses
// (*IDN?, *RST, *CLS, *OPC?, SYST:ERR?, FUNC, FREQ, VOLT, VOLT:UNIT, OUTP and their
// queries) with an error queue as instruments keep one, and the panel's susceptibility:
// while the output is on at a frequency inside a noise band, the panel's data values
// scatter by GAIN counts per volt peak-to-peak, and ghost contacts appear once that
// reaches the ghost level.
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace tpcsim {

struct NoiseBand {
  double fromHz = 0, toHz = 0;
  double gain = 0;  // counts per Vpp
};

class SimGenerator {
 public:
  static constexpr double kMaxHz = 80e6;
  static constexpr double kMaxVpp = 20;

  // One SCPI message (may hold several commands separated by ';'); the answer lines of
  // its queries, "" when it has none.
  std::string Execute(const std::string& message);

  bool Output() const { return output_; }
  double FrequencyHz() const { return hz_; }
  double Vpp() const { return vpp_; }
  const std::string& Function() const { return function_; }
  // "output=on freq=150000 vpp=10 func=SQU conducted=30"
  std::string Text() const;

  // The susceptibility.
  void AddBand(const NoiseBand& band) { bands_.push_back(band); }
  void ClearBands() { bands_.clear(); }
  void SetGhostLevel(double counts, int ghosts) {
    ghostLevel_ = counts;
    ghostCount_ = ghosts;
  }
  // Commands answered with an execution error ("FREQ"): a generator that refuses them.
  void Refuse(const std::string& header) { refused_ = header; }

  // The noise coupled into the panel now, counts of data value (0 while off or outside
  // every band), and the ghost contacts it raises.
  double ConductedCounts() const;
  int ConductedGhosts() const;

 private:
  std::string One(const std::string& command);
  void Error(int code, const char* text);
  void Reset();

  bool output_ = false;
  double hz_ = 1000;
  double vpp_ = 0.1;
  std::string function_ = "SIN";
  std::deque<std::string> errors_;
  std::vector<NoiseBand> bands_;
  double ghostLevel_ = 0;  // 0: no ghosts
  int ghostCount_ = 0;
  std::string refused_;
};

}  // namespace tpcsim
