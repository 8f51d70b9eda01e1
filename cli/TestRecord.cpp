#include "cli/TestRecord.h"

#include <pwd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "capture/CCaptureRecorder.h"
#include "cli/Commands.h"
#include "cli/Reports.h"
#include "records/FileHash.h"

namespace {

std::string HostName() {
  char name[256] = "";
  if (::gethostname(name, sizeof name - 1) != 0 || !*name) return "station";
  return name;
}

std::string LoginName() {
  for (const char* var : {"VANTREL_OPERATOR", "USER", "LOGNAME"})
    if (const char* v = std::getenv(var); v && *v) return v;
  const passwd* pw = ::getpwuid(::getuid());
  return pw ? pw->pw_name : "";
}

// The run as one JSON document.
nlohmann::json RunJson(const records::RunRecord& r) {
  nlohmann::json values = nlohmann::json::array();
  for (const analysis::Check& c : r.checks) {
    const analysis::Check m = c.Kept();
    nlohmann::json v{{"group", m.group}, {"item", m.item},   {"check", m.check},
                     {"text", m.text},   {"unit", m.unit},   {"limit_text", m.limitText},
                     {"pass", m.pass}};
    v["value"] = m.value ? nlohmann::json(*m.value) : nlohmann::json();
    v["low"] = m.low ? nlohmann::json(*m.low) : nlohmann::json();
    v["high"] = m.high ? nlohmann::json(*m.high) : nlohmann::json();
    values.push_back(std::move(v));
  }
  return {{"uuid", r.uuid},
          {"kind", r.kind},
          {"serial", r.serial},
          {"station", r.station},
          {"operator", r.operatorName},
          {"started_utc", r.startedUtc},
          {"tool_version", r.toolVersion},
          {"firmware_version", r.firmwareVersion},
          {"x_count", r.xCount},
          {"y_count", r.yCount},
          {"limits_name", r.limitsName},
          {"limits_sha256", r.limitsSha256},
          {"verdict", r.verdict},
          {"note", r.note},
          {"duration_s", r.durationS},
          {"capture_path", r.capturePath},
          {"capture_sha256", r.captureSha256},
          {"values", std::move(values)}};
}

// A value as part of a file name: letters, digits and . _ + - kept, others as _.
std::string FileSafe(const std::string& v) {
  std::string out;
  for (unsigned char c : v)
    out += std::isalnum(c) || c == '.' || c == '_' || c == '+' || c == '-' ? static_cast<char>(c)
                                                                          : '_';
  if (out.empty() || out == "." || out == "..") out = "none";
  return out;
}

}  // namespace

bool ExpandRunNames(RecordOptions& o, const std::vector<std::string*>& names, std::string& why) {
  if (o.runId.empty()) o.runId = records::NewUuid();
  if (o.startedUtc.empty()) o.startedUtc = records::UtcNow();
  // "2026-12-09T03:18:00.123Z" -> "20261209T031800Z"
  std::string time;
  for (char c : o.startedUtc.substr(0, 19))
    if (c != '-' && c != ':') time += c;
  time += 'Z';
  const std::pair<std::string, std::string> fields[] = {
      {"{serial}", FileSafe(o.serial)},
      {"{station}", FileSafe(o.station.empty() ? HostName() : o.station)},
      {"{time}", time},
      {"{run}", o.runId}};
  for (std::string* name : names) {
    if (!name || name->empty()) continue;
    std::string out;
    for (size_t i = 0; i < name->size();) {
      bool done = false;
      for (const auto& [key, value] : fields)
        if (name->compare(i, key.size(), key) == 0) {
          out += value;
          i += key.size();
          done = true;
          break;
        }
      if (done) continue;
      const size_t close = name->find('}', i);
      if ((*name)[i] == '{' && close != std::string::npos &&
          std::all_of(name->begin() + static_cast<long>(i) + 1,
                      name->begin() + static_cast<long>(close),
                      [](char c) { return std::islower(static_cast<unsigned char>(c)); })) {
        why = *name + ": unknown name field " + name->substr(i, close - i + 1) +
              " (known: {serial}, {station}, {time}, {run})";
        return false;
      }
      out += (*name)[i++];
    }
    *name = out;
  }
  return true;
}

std::string TestRecord::SaveBeside(const std::vector<const std::string*>& reports,
                                   std::string& error) const {
  namespace fs = std::filesystem;
  fs::path folder = ".";
  for (const std::string* r : reports) {
    std::error_code ec;
    if (!r || r->empty() || (fs::exists(*r, ec) && !fs::is_regular_file(*r, ec))) continue;
    folder = fs::path(*r).parent_path();
    if (folder.empty()) folder = ".";
    break;
  }
  const std::string file = (folder / ("vantrel-run-" + run_.uuid + ".json")).string();
  const std::string text =
      RunJson(run_).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  return WriteFileAtomically(file, text, error) ? file : std::string();
}

void AddRecordOptions(CLI::App* sub, RecordOptions& o) {
  sub->add_option("--results", o.results,
                  "keep the run in: sqlite:PATH, postgresql://... (a libpq URL) or none "
                  "(default: $VANTREL_RESULTS, else ~/.local/share/vantrel/results.db)");
  // The unit and the station may be options of the subcommand already.
  if (!sub->get_option_no_throw("--serial"))
    sub->add_option("--serial", o.serial,
                    "the unit's serial number (the link's --serial device goes before the "
                    "subcommand)");
  if (!sub->get_option_no_throw("--station"))
    sub->add_option("--station", o.station, "the test station's name (default: the host name)");
  sub->add_option("--operator", o.operatorName, "who tested (default: the login name)");
  sub->add_option("--record", o.record,
                  "also record the session as a capture file, kept with the run by path and "
                  "SHA-256 (a name ending in .zst is compressed)");
}

void SetDeviceProperties(analysis::TestRun& run, const LinkDevice& d) {
  if (d.node.empty()) return;
  char id[16];
  std::snprintf(id, sizeof id, "%04X:%04X", d.vid, d.pid);
  run.SetProperty("device", d.node);
  run.SetProperty("device_bus", d.bus);
  if (d.vid != 0 || d.pid != 0) run.SetProperty("device_id", id);
  if (d.iface >= 0) run.SetProperty("device_interface", std::to_string(d.iface));
  if (!d.serial.empty()) run.SetProperty("device_serial", d.serial);
  if (!d.port.empty()) run.SetProperty("device_port", d.port);
}

TestRecord::TestRecord(RecordOptions o, std::string kind) : o_(std::move(o)) {
  run_.kind = std::move(kind);
}

TestRecord::~TestRecord() {
  if (recorder_) recorder_->Stop();
}

bool TestRecord::Begin(const std::string& limitsPath, int& code) {
  run_.uuid = o_.runId.empty() ? records::NewUuid() : o_.runId;
  run_.startedUtc = o_.startedUtc.empty() ? records::UtcNow() : o_.startedUtc;
  run_.serial = o_.serial;
  run_.station = o_.station.empty() ? HostName() : o_.station;
  run_.operatorName = o_.operatorName.empty() ? LoginName() : o_.operatorName;
  run_.toolVersion = std::string("vantrel ") + VANTREL_VERSION;
  run_.limitsName = std::filesystem::path(limitsPath).filename().string();
  run_.limitsSha256 = records::FileSha256(limitsPath);
  records::ResultsUrl where;
  std::string error;
  if (!records::ResultsUrl::Parse(o_.results, where, error) ||
      !(keeper_ = std::make_unique<records::RunKeeper>(where))->Prepare(error)) {
    std::cerr << "vantrel: results: " << error << "\n";
    code = kExitCannotRun;
    return false;
  }
  if (std::error_code ec; !o_.record.empty() && std::filesystem::is_regular_file(o_.record, ec)) {
    std::cerr << "vantrel: --record " << Printable(o_.record)
              << ": the file exists and a kept run may refer to it; name each run's capture "
                 "apart (for example with {serial} and {time}, or {run})\n";
    code = kExitCannotRun;
    return false;
  }
  if (!o_.record.empty() && !(recorder_ = StartRecording(o_.record, code))) return false;
  return true;
}

void TestRecord::Opened(const ControllerSession& s) {
  measured_ = true;
  run_.firmwareVersion = s.Version();
  device_ = s.Device();
  run_.device = LinkDeviceText(device_);
  const PanelInfo p = s.Panel();
  run_.xCount = p.xCount;
  run_.yCount = p.yCount;
  run_.resolution = p.resolution;
  run_.xRange = p.xRange;
  run_.yRange = p.yRange;
  if (recorder_) NoteOpened(*recorder_, s);
}

bool TestRecord::Keeps() const {
  return keeper_ && keeper_->Target().kind != records::ResultsUrl::Kind::kNone;
}

int TestRecord::Finish(const std::string& verdict, const std::string& note, double seconds,
                       const std::vector<const std::string*>& reports) {
  run_.verdict = verdict;
  run_.note = note;
  run_.durationS = seconds;
  int code = 0;
  if (recorder_) {
    code = FinishRecording(*recorder_);
    recorder_.reset();
    run_.capturePath = std::filesystem::absolute(o_.record).string();
    run_.captureSha256 = records::FileSha256(o_.record);
  }
  using Where = records::RunKeeper::Where;
  const auto kept = keeper_->Keep(run_);
  const std::string shown = keeper_->Target().Shown();
  auto say = [](const std::string& text) {
    std::cerr << "vantrel: results: " << Printable(text) << "\n";
  };
  switch (kept.where) {
    case Where::kNowhere:
      break;
    case Where::kStored:
      if (kept.sent > 0) say(std::to_string(kept.sent) + " waiting run(s) sent to " + shown);
      if (kept.setAside > 0)
        say(std::to_string(kept.setAside) +
            " waiting run(s) refused by the server for their content, set aside in " +
            keeper_->LocalPath() + " (vantrel results pending lists them)");
      if (!kept.syncError.empty()) say("waiting runs could not be sent: " + kept.syncError);
      break;
    case Where::kKeptLocally:
      say(kept.error);
      say("the run is kept in " + keeper_->LocalPath() + " until `vantrel results sync` sends it");
      break;
    case Where::kSetAside:
      say("the server refused the run for its content: " + kept.error);
      say("the run is set aside in " + keeper_->LocalPath() +
          " (vantrel results pending lists it); it holds up no other run");
      break;
    case Where::kNotKept: {
      say("the run could not be kept: " + kept.error);
      std::string error;
      const std::string file = SaveBeside(reports, error);
      say(file.empty() ? "nor saved as a file: " + error : "the run is saved in " + file);
      return kExitCannotRun;
    }
  }
  return code;
}
