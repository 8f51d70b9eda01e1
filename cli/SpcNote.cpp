#include "cli/SpcNote.h"

#include <iostream>

#include "cli/ResultsCommands.h"
#include "records/LineData.h"
#include "records/ResultsStore.h"

void SpcNote(const std::string& resultsUrl, const records::RunRecord& run, std::ostream& out) {
  std::string error;
  auto store = OpenKeptRuns(resultsUrl, error);
  records::LineData line;
  records::LineOptions o;
  o.chartUnits = 200;
  if (!store || !records::LoadLineData(store->Db(), {"", run.station}, o, line, error)) {
    std::cerr << "vantrel: --spc: the kept runs could not be read: " << error << "\n";
    return;
  }
  if (line.alarms.empty()) return;
  out << "SPC: unit " << run.serial << " passed, but station " << run.station << " has "
      << line.alarms.size() << " open drift alarm(s):\n";
  size_t shown = 0;
  for (const auto& a : line.alarms) {
    if (++shown > 10) {
      out << "  ... and " << line.alarms.size() - 10 << " more (vantrel report)\n";
      break;
    }
    const auto& c = line.charts[size_t(a.chart)];
    const auto& p = c.points[a.point];
    out << "  " << c.Name() << ": " << analysis::RuleText(a.rule) << (a.high ? " (high)" : " (low)")
        << " since unit " << p.serial << ", " << p.time << "\n";
  }
}
