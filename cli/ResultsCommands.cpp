#include "cli/ResultsCommands.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "analysis/Limits.h"
#include "cli/Commands.h"
#include "cli/GrrCommand.h"
#include "cli/LineFormats.h"
#include "cli/Reports.h"
#include "records/HtmlReport.h"
#include "records/LineReport.h"
#include "records/ReportData.h"
#include "records/ResultsStore.h"
#include "records/RunKeeper.h"
#include "records/SvgChart.h"

namespace {

constexpr const char* kResultsHelp =
    "the results database: sqlite:PATH, postgresql://... (a libpq URL) (default: "
    "$VANTREL_RESULTS, else ~/.local/share/vantrel/results.db)";

// toWrite: opened to bring its schema up to date (never made where it is not there).
std::unique_ptr<records::ResultsStore> OpenStore(const std::string& url, std::string& error,
                                                 bool toWrite = false) {
  records::ResultsUrl where;
  if (!records::ResultsUrl::Parse(url, where, error)) return nullptr;
  if (where.kind == records::ResultsUrl::Kind::kNone) {
    error = "--results none keeps nothing to read";
    return nullptr;
  }
  // Reading creates nothing: a database that is not there is a mistyped path, or a
  // station that has kept no run yet.
  if (std::error_code ec; where.kind == records::ResultsUrl::Kind::kSqlite &&
                          !std::filesystem::exists(where.path, ec)) {
    error = where.path + ": no such results database (no run has been kept there)";
    return nullptr;
  }
  auto store = toWrite ? records::ResultsStore::Open(where, error)
                       : records::ResultsStore::OpenToRead(where, error);
  // A SQLite error names its file already.
  if (!store && error.rfind(where.Shown(), 0) != 0) error = where.Shown() + ": " + error;
  return store;
}

std::string Num(double v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

std::string Limit(const analysis::Check& m) {
  if (!m.limitText.empty()) return m.limitText;
  if (m.low && m.high) return *m.low == *m.high ? "= " + Num(*m.low) : Num(*m.low) + " .. " + Num(*m.high);
  if (m.low) return ">= " + Num(*m.low);
  if (m.high) return "<= " + Num(*m.high);
  return "";
}

std::string Value(const analysis::Check& m) {
  if (!m.value) return m.text;
  return Num(*m.value) + (m.unit.empty() || m.unit == "counts" ? std::string() : " " + m.unit);
}

}  // namespace

ResultsCommands::ResultsCommands(CLI::App& app) {
  results_ = app.add_subcommand("results", "the kept test runs: show a unit's history, send "
                                           "the runs a server did not take");
  results_->require_subcommand(1);
  show_ = results_->add_subcommand("show", "every kept run of a unit, oldest first, with its "
                                           "failed values; exit 1 when there is none");
  show_->add_option("serial", serial_, "the unit's serial number")->required();
  show_->add_flag("--all", all_, "every value, not only the failed ones");
  show_->add_option("--results", url_, kResultsHelp);
  sync_ = results_->add_subcommand("sync", "send the runs kept locally while the server could "
                                           "not be reached; each lands there once");
  sync_->add_option("--results", url_, "the server: postgresql://... (default: $VANTREL_RESULTS)");
  upgrade_ = results_->add_subcommand(
      "upgrade", "bring the database's schema up to date (as keeping a run does), so that "
                 "this version's report can read it");
  upgrade_->add_option("--results", url_, kResultsHelp);
  pending_ = results_->add_subcommand(
      "pending", "the runs kept on this station that are not on the server: waiting to be "
                 "sent, or set aside because the server refused them (with its reason)");

  report_ = app.add_subcommand("report", "the yield report as one HTML file: drift alarms, "
                                         "first-pass and final yield per station, operator, "
                                         "shift and day, volume and test time, capability, "
                                         "failing checks, failures per electrode with their "
                                         "units, drift of the electrode means");
  report_->add_option("--results", url_, kResultsHelp);
  report_->add_option("--since", since_, "only runs from this day on (YYYY-MM-DD, UTC)");
  report_->add_option("--station", station_, "only this station's runs");
  report_->add_option("-o,--output", output_, "the file to write (- for standard output)")
      ->required();
  report_->add_option("--format", format_, "html (default), json or csv: the same figures")
      ->check(CLI::IsMember({"html", "json", "csv"}));
  report_->add_option("--target", target_, "the yield target in %, drawn as a line (e.g. 98)")
      ->check(CLI::Range(0.0, 100.0));
  report_->add_option("--shifts", shifts_,
                      "shift start times, local time, e.g. 06:00,14:00,22:00: yield per shift");
  report_->add_option("--reference", referenceUnits_,
                      "drift alarms: the period's first N units are the reference (default 20)")
      ->check(CLI::Range(2, 100000));
  report_->add_option("--learned", learned_,
                      "drift alarms: the reference is the learning set of this limits file "
                      "(vantrel learn --from-results); without one, the period's first units");
  report_->add_option("--chart-units", chartUnits_,
                      "drift alarms: the newest N units charted after the reference (default 1000)")
      ->check(CLI::Range(1, 1000000));
  report_->add_option("--grr", grr_,
                      "add the gauge study of this file (vantrel grr's study file, 6 sigma, "
                      "interaction pooled at p >= 0.25) as a section");
}

bool ResultsCommands::Chosen() const { return results_->parsed() || report_->parsed(); }

int ResultsCommands::Run() {
  if (show_->parsed()) return Show();
  if (sync_->parsed()) return Sync();
  if (pending_->parsed()) return Pending();
  if (upgrade_->parsed()) return Upgrade();
  if (report_->parsed()) return Report();
  return kExitCannotRun;
}

int ResultsCommands::Show() {
  std::string error;
  auto store = OpenStore(url_, error);
  if (!store) return Complain(error);
  std::vector<records::RunRecord> runs;
  // Serials are stored as Printable makes them.
  const std::string serial = Printable(serial_);
  if (!store->RunsOfSerial(serial, all_, runs)) return Complain(store->Error());
  if (runs.empty()) return Complain("no run of unit \"" + serial + "\"", kExitFail);
  // Texts from a shared database may hold anything: shown as the reports show them.
  auto p = [](const std::string& text) { return Printable(text); };
  std::cout << "unit " << serial << ": " << runs.size() << " run(s)\n";
  for (const records::RunRecord& r : runs) {
    int failed = 0;
    for (const auto& m : r.checks) failed += m.pass ? 0 : 1;
    std::cout << "\n" << p(r.startedUtc) << "  " << p(r.kind) << "  " << p(r.verdict);
    if (r.verdict == "fail") std::cout << " (" << failed << " failed)";
    std::cout << "  station " << p(r.station) << "  operator " << p(r.operatorName) << "\n"
              << "  firmware \"" << p(r.firmwareVersion) << "\", panel " << r.xCount << " x "
              << r.yCount << ", limits " << p(r.limitsName) << " (sha256 "
              << p(r.limitsSha256.substr(0, 12)) << "), " << p(r.toolVersion) << ", "
              << records::SvgChart::Number(r.durationS, 1) << " s\n";
    if (!r.note.empty()) std::cout << "  note: " << p(r.note) << "\n";
    if (!r.device.empty()) std::cout << "  device " << p(r.device) << "\n";
    if (!r.capturePath.empty())
      std::cout << "  capture " << p(r.capturePath) << " (sha256 " << p(r.captureSha256) << ")\n";
    if (r.pending) std::cout << "  not yet sent to the server\n";
    std::cout << "  run " << p(r.uuid) << "\n";
    for (const auto& m : r.checks) {
      std::cout << "    " << (m.pass ? "ok   " : "FAIL ") << p(m.group) << " "
                << (m.item.empty() ? "" : p(m.item) + " ") << p(m.check) << " = " << p(Value(m));
      const std::string limit = Limit(m);
      if (!limit.empty()) std::cout << "  (" << p(limit) << ")";
      std::cout << "\n";
    }
  }
  return kExitPass;
}

int ResultsCommands::Sync() {
  records::ResultsUrl where;
  std::string error;
  if (!records::ResultsUrl::Parse(url_, where, error)) return Complain(error);
  records::RunKeeper keeper(where);
  const auto r = keeper.Sync();
  if (r.sent + r.already > 0 || r.error.empty())
    std::cout << r.sent << " run(s) sent to " << where.Shown()
              << (r.already ? ", " + std::to_string(r.already) + " were there already" : "")
              << "\n";
  if (r.setAside > 0)
    std::cout << r.setAside << " run(s) refused by the server for their content and set aside "
              << "(vantrel results pending lists them with the reason)\n";
  if (!r.error.empty()) {
    Complain("results sync: " + r.error);
    if (r.left > 0) std::cerr << "vantrel: " << r.left << " run(s) still wait in " << keeper.LocalPath() << "\n";
    return kExitCannotRun;
  }
  return r.setAside > 0 ? kExitFail : kExitPass;
}

int ResultsCommands::Upgrade() {
  std::string error;
  auto store = OpenStore(url_, error, true);
  if (!store) return Complain(error);
  std::cout << "schema version " << store->Version() << "\n";
  return kExitPass;
}

int ResultsCommands::Pending() {
  const std::string path = records::ResultsUrl::LocalPath();
  if (std::error_code ec; !std::filesystem::exists(path, ec)) {
    std::cout << "no run waits: " << path << " holds none\n";
    return kExitPass;
  }
  records::ResultsUrl local;
  local.path = path;
  std::string error;
  auto store = records::ResultsStore::Open(local, error);
  if (!store) return Complain(error);
  std::vector<records::ResultsStore::Waiting> runs;
  if (!store->WaitingRuns(runs)) return Complain(store->Error());
  int setAside = 0;
  for (const auto& w : runs) setAside += w.reason.empty() ? 0 : 1;
  std::cout << runs.size() - setAside << " run(s) wait to be sent, " << setAside
            << " set aside, in " << path << "\n";
  for (const auto& w : runs) {
    std::cout << "\n" << Printable(w.startedUtc) << "  " << Printable(w.kind) << "  "
              << Printable(w.verdict) << "  unit "
              << (w.serial.empty() ? "(no serial)" : Printable(w.serial)) << "  run "
              << Printable(w.uuid) << "\n";
    std::cout << (w.reason.empty() ? "  waiting to be sent\n"
                                   : "  set aside: " + Printable(w.reason) + "\n");
  }
  return kExitPass;
}

int ResultsCommands::Report() {
  if (!since_.empty() && !records::IsDate(since_))
    return Complain("--since " + since_ + ": expected a day, YYYY-MM-DD");
  std::string error;
  auto store = OpenStore(url_, error);
  if (!store) return Complain(error);
  // The report reads what the newest schema keeps; reading writes nothing.
  if (store->Version() < records::ResultsStore::SchemaVersion())
    return Complain("the results database is of an older version (" +
                    std::to_string(store->Version()) + ") than the report reads (" +
                    std::to_string(records::ResultsStore::SchemaVersion()) +
                    "): vantrel results upgrade brings it up to date (so does keeping a run "
                    "there)");
  records::LineOptions options;
  if (!shifts_.empty() && !records::ParseShifts(shifts_, options.shiftStarts, error))
    return Complain("--shifts " + shifts_ + ": " + error);
  if (target_ >= 0) options.target = target_;
  options.referenceUnits = referenceUnits_;
  options.chartUnits = chartUnits_;
  if (!learned_.empty()) {
    analysis::Limits limits;
    analysis::LimitsError le;
    if (!analysis::LoadLimits(learned_, limits, le)) return Complain(le.Text());
    options.referenceRuns = limits.learnedRuns;
    if (limits.learnedRuns.empty())
      std::cerr << "vantrel: " << learned_ << " names no learning set (not learnt from kept "
                << "runs): the reference is the period's first " << referenceUnits_ << " units\n";
  }
  records::ReportData data;
  records::LineData line;
  if (!records::LoadReportData(store->Db(), {since_, station_}, data, error) ||
      !records::LoadLineData(store->Db(), {since_, station_}, options, line, error))
    return Complain(error);
  std::vector<records::GaugeRow> gauge;
  const analysis::GaugeOptions gaugeOptions;
  if (!grr_.empty() && !StudyFromCsv(grr_, gaugeOptions, "", gauge, error)) return Complain(error);
  std::string text;
  if (format_ == "json") {
    nlohmann::json j = ReportJson(data, line, options);
    if (!grr_.empty()) {
      j["gauge_study"] = nlohmann::json::array();
      for (const auto& g : gauge)
        j["gauge_study"].push_back({{"check", g.check},
                                    {"repeatability_sd", std::sqrt(g.r.repeatability)},
                                    {"reproducibility_sd", std::sqrt(g.r.reproducibility)},
                                    {"grr_percent_of_total", g.r.grrOfTotal},
                                    {"distinct_categories", g.r.distinctCategories},
                                    {"interaction_pooled", g.r.pooled}});
    }
    text = j.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  } else if (format_ == "csv") {
    text = ReportCsv(data, line);
  } else {
    auto extra = records::LineReport::Sections(line, options);
    if (!grr_.empty())
      extra.bottom = records::GaugeSection(gauge, gaugeOptions, "Study file " + grr_) + extra.bottom;
    text = records::HtmlReport::Render(data, extra);
  }
  if (output_ == "-")
    std::cout << text << std::flush;
  else if (!WriteFileAtomically(output_, text, error))
    return Complain(error);
  std::cerr << "vantrel: report of " << data.runs << " run(s) of " << data.units
            << " unit(s), first-pass yield "
            << records::HtmlReport::Percent(data.FirstPassPassed(), data.FirstPassUnits())
            << ", final yield " << records::YieldText(line.all.finalPassed, line.all.units)
            << ", " << line.alarms.size() << " drift alarm(s)"
            << (output_ == "-" ? std::string() : ", written to " + output_) << "\n";
  return kExitPass;
}

std::unique_ptr<records::ResultsStore> OpenKeptRuns(const std::string& url, std::string& error) {
  return OpenStore(url, error);
}
