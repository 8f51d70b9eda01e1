#include "cli/LearnRuns.h"

#include <cmath>
#include <fstream>

#include "cli/Reports.h"
#include "savefile/AtomicFile.h"

using analysis::PanelRun;

nlohmann::json StatsDocument(const std::string& stream, const analysis::ElectrodeStats& stats,
                             uint64_t incomplete, const std::string& firmware, int xCount,
                             int yCount) {
  nlohmann::json j = {{"stream", stream},
                      {"scans", stats.Scans()},
                      {"incomplete_scans", incomplete},
                      {"firmware_version", firmware},
                      {"panel", {{"x_count", xCount}, {"y_count", yCount}}},
                      {"electrodes", StatsJson(stats)}};
  if (stats.Kind() == analysis::StreamKind::kSignal) j["touched_scans"] = stats.TouchedScans();
  return j;
}

bool RunFromDocument(const nlohmann::json& doc, const std::string& unit, PanelRun& run,
                     std::string& why) {
  try {
    run = PanelRun{};
    run.stream = analysis::FindStream(doc.at("stream").get<std::string>());
    if (!run.stream) {
      why = "unknown stream \"" + doc.at("stream").get<std::string>() + "\"";
      return false;
    }
    run.unit = doc.contains("unit") ? doc["unit"].get<std::string>() : unit;
    run.firmware = doc.value("firmware_version", std::string());
    run.scans = doc.value("scans", 0);
    run.xCount = doc.at("panel").at("x_count").get<int>();
    run.yCount = doc.at("panel").at("y_count").get<int>();
    if (run.xCount < 1 || run.xCount > 255 || run.yCount < 1 || run.yCount > 255) {
      why = "panel counts must be 1 to 255";
      return false;
    }
    const analysis::ScanLayout layout =
        analysis::ScanLayout::For(*run.stream, run.xCount, run.yCount);
    const auto& list = doc.at("electrodes");
    if (!list.is_array() || static_cast<int>(list.size()) != layout.Size()) {
      why = "needs " + std::to_string(layout.Size()) + " electrodes for " + run.stream->name +
            " on a " + std::to_string(run.xCount) + " x " + std::to_string(run.yCount) + " panel";
      return false;
    }
    for (size_t i = 0; i < list.size(); ++i) {
      const auto& e = list[i];
      if (e.at("electrode").get<std::string>() != layout.Name(static_cast<int>(i))) {
        why = "electrode " + std::to_string(i + 1) + " must be " + layout.Name(static_cast<int>(i));
        return false;
      }
      analysis::ElectrodeSummary s;
      s.min = e.at("min").get<int32_t>();
      s.max = e.at("max").get<int32_t>();
      s.mean = e.at("mean").get<double>();
      s.stddev = e.at("stddev").get<double>();
      s.p2p = e.at("p2p").get<int32_t>();
      const std::string state = e.value("state", std::string("ok"));
      s.open = state == "open";
      s.shorted = state == "short";
      if (!std::isfinite(s.mean) || !std::isfinite(s.stddev) || s.stddev < 0 || s.p2p < 0) {
        why = layout.Name(static_cast<int>(i)) + ": figures out of range";
        return false;
      }
      run.electrodes.push_back(s);
      run.excluded.push_back(e.value("excluded", false));
    }
  } catch (const nlohmann::json::exception& e) {
    why = std::string("not statistics of vantrel stats --json: ") + e.what();
    return false;
  }
  return true;
}

nlohmann::json RunDocument(const PanelRun& run) {
  const analysis::ScanLayout layout =
      analysis::ScanLayout::For(*run.stream, run.xCount, run.yCount);
  nlohmann::json list = nlohmann::json::array();
  for (size_t i = 0; i < run.electrodes.size(); ++i) {
    const analysis::ElectrodeSummary& s = run.electrodes[i];
    nlohmann::json e = {{"electrode", layout.Name(static_cast<int>(i))},
                        {"min", s.min},
                        {"max", s.max},
                        {"mean", s.mean},
                        {"stddev", s.stddev},
                        {"p2p", s.p2p}};
    if (run.stream->kind == analysis::StreamKind::kOpenShort)
      e["state"] = s.open ? "open" : s.shorted ? "short" : "ok";
    if (i < run.excluded.size() && run.excluded[i]) e["excluded"] = true;
    list.push_back(e);
  }
  return {{"unit", run.unit},
          {"stream", run.stream->name},
          {"scans", run.scans},
          {"firmware_version", run.firmware},
          {"panel", {{"x_count", run.xCount}, {"y_count", run.yCount}}},
          {"electrodes", list}};
}

bool LoadRuns(const std::string& path, std::vector<PanelRun>& runs, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = path + ": cannot be read";
    return false;
  }
  nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
  if (doc.is_discarded()) {
    why = path + ": not JSON";
    return false;
  }
  const std::string unit =
      path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  std::vector<nlohmann::json> docs;
  if (doc.is_object() && doc.contains("runs") && doc["runs"].is_array())
    docs.assign(doc["runs"].begin(), doc["runs"].end());
  else
    docs.push_back(doc);
  for (size_t i = 0; i < docs.size(); ++i) {
    PanelRun run;
    if (!RunFromDocument(docs[i], unit, run, why)) {
      why = path + ": run " + std::to_string(i + 1) + ": " + why;
      return false;
    }
    runs.push_back(std::move(run));
  }
  return true;
}

bool SaveRuns(const std::string& path, const std::vector<PanelRun>& runs, std::string& why) {
  nlohmann::json list = nlohmann::json::array();
  for (const PanelRun& r : runs) list.push_back(RunDocument(r));
  const nlohmann::json doc = {{"runs", list}};
  return savefile::AtomicFile::Write(
      path, doc.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n", why);
}
