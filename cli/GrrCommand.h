// `vantrel grr`: a gauge study of the stations (or fixtures). At each station, a guided
// measurement of P parts T times adds its rows to the study file; the study is computed
// from that file (or any CSV of part, station, trial, value) by the ANOVA method.
#pragma once

#include <string>
#include <vector>

#include "analysis/GaugeStudy.h"
#include "records/GaugeReport.h"

namespace CLI {
class App;
}
struct GlobalOptions;

// The study of a CSV file (columns part, station, trial, value, and optionally check; a
// header names them) per check, worst first. limitsPath: tolerances of the checks
// "<stream> <electrode> mean" from a limits file ("" for none). False with why.
bool StudyFromCsv(const std::string& path, const analysis::GaugeOptions& o,
                  const std::string& limitsPath, std::vector<records::GaugeRow>& rows,
                  std::string& why);

class GrrCommand {
 public:
  explicit GrrCommand(CLI::App& app);
  bool Chosen() const;
  // True when the connected controller is not needed.
  bool Offline() const { return !data_.empty(); }
  int Run(const GlobalOptions& g);

 private:
  int Measure(const GlobalOptions& g);
  int Compute(const std::string& path);

  CLI::App* grr_ = nullptr;
  std::string data_, output_, station_, limits_;
  std::vector<std::string> streams_;
  int parts_ = 10, trials_ = 3, stations_ = 3, scans_ = 20;
  double spread_ = 6, tolerance_ = 0, poolAlpha_ = 0.25;
};
