// Golden panels from the kept runs: the newest self test of each serial number of a
// file, or of each unit that passed at a station from a day on, as learning runs.
#pragma once

#include <string>
#include <vector>

#include "analysis/LimitsLearn.h"

struct ResultsSelection {
  std::string url;      // the results database
  std::string serials;  // a file of serial numbers, one a line
  std::string station, since;
};

// The runs (one per stream and unit) and how they were chosen ("the passing units of
// station S since D in sqlite:..."); false with why.
bool RunsFromResults(const ResultsSelection& s, std::vector<analysis::PanelRun>& runs,
                     std::string& chosen, std::string& why);
