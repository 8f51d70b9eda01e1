// A gauge study's figures per check and electrode, worst first, as a section of the
// report and as terminal text.
#pragma once

#include <string>
#include <vector>

#include "analysis/GaugeStudy.h"

namespace records {

struct GaugeRow {
  std::string check;  // "m0-raw X5 mean"
  analysis::GaugeResult r;
};

// Worst %GRR (of the total variation) first.
void SortWorstFirst(std::vector<GaugeRow>& rows);
// The conventions a study used, for comparing with a statistics package.
std::string GaugeConventions(const analysis::GaugeOptions& o);
std::string GaugeSection(const std::vector<GaugeRow>& rows, const analysis::GaugeOptions& o,
                         const std::string& source);
std::string GaugeText(const std::vector<GaugeRow>& rows, const analysis::GaugeOptions& o);

}  // namespace records
