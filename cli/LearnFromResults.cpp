#include "cli/LearnFromResults.h"

#include <fstream>
#include <map>

#include "cli/ResultsCommands.h"
#include "records/LineSql.h"
#include "records/ReportData.h"
#include "records/ResultsStore.h"

namespace {

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  size_t b = 0;
  while (b < s.size() && (s[b] == ' ' || s[b] == '\t')) ++b;
  return s.substr(b);
}

// The run's values of each data stream as one learning run per stream.
void AddRun(const records::RunRecord& r, std::vector<analysis::PanelRun>& runs) {
  std::map<std::string, analysis::PanelRun> byStream;
  for (const analysis::Check& m : r.checks) {
    const analysis::StreamInfo* stream = analysis::FindStream(m.group);
    if (!stream || stream->kind == analysis::StreamKind::kOpenShort || m.item.empty() || !m.value)
      continue;
    auto [it, fresh] = byStream.try_emplace(m.group);
    analysis::PanelRun& run = it->second;
    if (fresh) {
      run.unit = r.serial;
      run.run = r.uuid;
      run.stream = stream;
      run.xCount = r.xCount;
      run.yCount = r.yCount;
      run.firmware = r.firmwareVersion;
      const auto layout = analysis::ScanLayout::For(*stream, r.xCount, r.yCount);
      run.electrodes.resize(size_t(layout.Size()));
      run.excluded.assign(size_t(layout.Size()), true);  // until a value is there
    }
    const auto layout = analysis::ScanLayout::For(*stream, r.xCount, r.yCount);
    for (int i = 0; i < layout.Size(); ++i) {
      if (layout.Name(i) != m.item) continue;
      auto& e = run.electrodes[size_t(i)];
      if (m.check == "mean") {
        e.mean = *m.value;
        run.excluded[size_t(i)] = false;
      } else if (m.check == "p2p") {
        e.p2p = int32_t(*m.value);
      } else if (m.check == "stddev") {
        e.stddev = *m.value;
      }
    }
  }
  for (auto& [name, run] : byStream) runs.push_back(std::move(run));
}

}  // namespace

bool RunsFromResults(const ResultsSelection& s, std::vector<analysis::PanelRun>& runs,
                     std::string& chosen, std::string& why) {
  if (s.serials.empty() == s.station.empty()) {
    why = "--from-results needs --serials FILE, or --station S (with --since DATE)";
    return false;
  }
  if (!s.since.empty() && !records::IsDate(s.since)) {
    why = "--since " + s.since + ": expected a day, YYYY-MM-DD";
    return false;
  }
  auto store = OpenKeptRuns(s.url, why);
  if (!store) return false;
  std::vector<std::string> uuids;
  std::vector<records::SqlRow> rows;
  if (!s.serials.empty()) {
    std::ifstream in(s.serials);
    if (!in) {
      why = s.serials + ": cannot be read";
      return false;
    }
    int line = 0;
    for (std::string serial; std::getline(in, serial);) {
      ++line;
      serial = Trim(serial);
      if (serial.empty() || serial[0] == '#') continue;
      rows.clear();
      if (!store->Db().Exec(records::sql::kNewestTestOfSerial, {serial}, &rows)) {
        why = store->Db().Error();
        return false;
      }
      if (rows.empty()) {
        why = s.serials + ":" + std::to_string(line) + ": no kept self test of unit \"" + serial +
              "\"";
        return false;
      }
      uuids.push_back(records::AsText(rows[0][0]));
    }
    chosen = "the newest self test of each unit listed in " + s.serials;
  } else {
    if (!store->Db().Exec(records::sql::kPassedRunsOfStation, {s.station, s.since}, &rows)) {
      why = store->Db().Error();
      return false;
    }
    for (const auto& r : rows) uuids.push_back(records::AsText(r[0]));
    chosen = "the newest passing self test of each unit at station " + s.station +
             (s.since.empty() ? "" : " since " + s.since);
  }
  if (uuids.empty()) {
    why = "no kept run matches: " + chosen;
    return false;
  }
  for (const std::string& uuid : uuids) {
    records::RunRecord r;
    if (!store->Load(uuid, r)) {
      why = store->Error();
      return false;
    }
    AddRun(r, runs);
  }
  return true;
}
