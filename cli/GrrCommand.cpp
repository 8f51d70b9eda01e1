#include "cli/GrrCommand.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "analysis/Limits.h"
#include "cli/Commands.h"
#include "cli/Reports.h"

namespace {

std::vector<std::string> SplitCsv(const std::string& line) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"')
        out.back() += '"', ++i;
      else if (c == '"')
        quoted = false;
      else
        out.back() += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      out.emplace_back();
    } else if (c != '\r') {
      out.back() += c;
    }
  }
  return out;
}

std::string Number(double v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

std::string Field(const std::string& s) {
  if (s.find_first_of(",\"") == std::string::npos) return s;
  std::string o = "\"";
  for (char c : s) o += c == '"' ? std::string("\"\"") : std::string(1, c);
  return o + "\"";
}

// "m0-raw X5 mean" -> the tolerance of X5's mean in the limits.
std::optional<double> Tolerance(const analysis::Limits& limits, const std::string& check) {
  std::istringstream in(check);
  std::string stream, electrode, figure;
  in >> stream >> electrode >> figure;
  if (figure != "mean") return std::nullopt;
  for (const auto& s : limits.streams) {
    if (!s.stream || s.stream->name != stream) continue;
    for (int i = 0; i < s.layout.Size() && size_t(i) < s.perElectrode.size(); ++i)
      if (s.layout.Name(i) == electrode && s.perElectrode[size_t(i)].meanMin &&
          s.perElectrode[size_t(i)].meanMax)
        return *s.perElectrode[size_t(i)].meanMax - *s.perElectrode[size_t(i)].meanMin;
  }
  return std::nullopt;
}

}  // namespace

bool StudyFromCsv(const std::string& path, const analysis::GaugeOptions& o,
                  const std::string& limitsPath, std::vector<records::GaugeRow>& rows,
                  std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = path + ": cannot be read";
    return false;
  }
  analysis::Limits limits;
  if (!limitsPath.empty()) {
    analysis::LimitsError err;
    if (!analysis::LoadLimits(limitsPath, limits, err)) {
      why = err.Text();
      return false;
    }
    if (limits.xCount && limits.yCount &&
        !analysis::ResolveLimits(limits, *limits.xCount, *limits.yCount, err)) {
      why = err.Text();
      return false;
    }
  }
  std::string line;
  if (!std::getline(in, line)) {
    why = path + ": empty";
    return false;
  }
  const auto head = SplitCsv(line);
  std::map<std::string, size_t> column;
  for (size_t i = 0; i < head.size(); ++i) column[head[i]] = i;
  for (const char* need : {"part", "station", "trial", "value"})
    if (!column.count(need)) {
      why = path +
            ":1: the header must name the columns part, station, trial, value (and "
            "check, optionally)";
      return false;
    }
  const bool hasCheck = column.count("check") > 0;
  std::map<std::string, std::vector<analysis::GaugeMeasurement>> byCheck;
  std::set<std::string> seen;
  for (int n = 2; std::getline(in, line); ++n) {
    if (line.empty() || line == "\r") continue;
    const auto f = SplitCsv(line);
    if (f.size() != head.size()) {
      why = path + ":" + std::to_string(n) + ": " + std::to_string(f.size()) +
            " fields, the header has " + std::to_string(head.size());
      return false;
    }
    char* end = nullptr;
    const double value = std::strtod(f[column["value"]].c_str(), &end);
    if (f[column["value"]].empty() || *end || !std::isfinite(value)) {
      why = path + ":" + std::to_string(n) + ": \"" + f[column["value"]] + "\" is no number";
      return false;
    }
    const std::string check = hasCheck ? f[column["check"]] : "value";
    const std::string key =
        check + "\n" + f[column["part"]] + "\n" + f[column["station"]] + "\n" + f[column["trial"]];
    if (!seen.insert(key).second) {
      why = path + ":" + std::to_string(n) + ": part " + f[column["part"]] + ", station " +
            f[column["station"]] + ", trial " + f[column["trial"]] + " is there twice";
      return false;
    }
    byCheck[check].push_back({f[column["part"]], f[column["station"]], value});
  }
  rows.clear();
  for (const auto& [check, m] : byCheck) {
    analysis::GaugeOptions co = o;
    if (!co.tolerance) co.tolerance = Tolerance(limits, check);
    records::GaugeRow row{check, {}};
    if (!analysis::StudyGauge(m, co, row.r, why)) {
      why = path + ": " + check + ": " + why;
      return false;
    }
    rows.push_back(std::move(row));
  }
  records::SortWorstFirst(rows);
  return true;
}

GrrCommand::GrrCommand(CLI::App& app) {
  grr_ = app.add_subcommand(
      "grr",
      "gauge study of the stations by the ANOVA method: at each station, measure P parts T "
      "times (guided; rows added to the study file), then compute the study with --data");
  grr_->add_option("streams", streams_,
                   "streams to measure (default m0-raw): each electrode's mean");
  grr_->add_option("--data", data_,
                   "compute the study of this CSV (part, station, trial, value[, check]): one "
                   "made by vantrel grr, or measurements made elsewhere");
  grr_->add_option("-o,--output", output_, "the study file the measurements are added to");
  grr_->add_option("--station", station_, "this station's (or fixture's) name in the study");
  grr_->add_option("--parts", parts_, "parts in the study (default 10)")
      ->check(CLI::Range(2, 1000));
  grr_->add_option("--trials", trials_, "times each part is measured (default 3)")
      ->check(CLI::Range(2, 100));
  grr_->add_option("--stations", stations_, "stations in the study (default 3)")
      ->check(CLI::Range(1, 100));
  grr_->add_option("--scans", scans_, "scans per measurement (default 20)")
      ->check(CLI::Range(1, 100000));
  grr_->add_option("--limits", limits_,
                   "limits file: each electrode's mean range is its tolerance");
  grr_->add_option("--tolerance", tolerance_, "the tolerance (high - low) of every check")
      ->check(CLI::PositiveNumber);
  grr_->add_option("--spread", spread_, "study variation in sigmas: 6 (default) or 5.15")
      ->check(CLI::Range(1.0, 10.0));
  grr_->add_option("--pool-alpha", poolAlpha_,
                   "pool the part x station interaction when its p-value is at least this "
                   "(default 0.25; 0: never)")
      ->check(CLI::Range(0.0, 1.0));
}

bool GrrCommand::Chosen() const {
  return grr_->parsed();
}

int GrrCommand::Run(const GlobalOptions& g) {
  if (!data_.empty()) return Compute(data_);
  return Measure(g);
}

int GrrCommand::Compute(const std::string& path) {
  analysis::GaugeOptions o;
  o.spread = spread_;
  o.poolAlpha = poolAlpha_;
  if (tolerance_ > 0) o.tolerance = tolerance_;
  std::vector<records::GaugeRow> rows;
  std::string why;
  if (!StudyFromCsv(path, o, limits_, rows, why)) return Complain(why);
  std::cout << "Gauge study of " << path << ": " << rows.front().r.parts << " parts x "
            << rows.front().r.stations << " station(s) x " << rows.front().r.trials << " trials, "
            << rows.size() << " check(s), worst first\n\n"
            << records::GaugeText(rows, o);
  return kExitPass;
}

int GrrCommand::Measure(const GlobalOptions& g) {
  if (station_.empty() || output_.empty())
    return Complain("a guided study needs --station NAME and -o STUDY.csv (or --data to compute)");
  if (streams_.empty()) streams_ = {"m0-raw"};
  std::vector<const analysis::StreamInfo*> streams;
  for (const auto& name : streams_) {
    const auto* s = analysis::FindStream(name);
    if (!s || s->kind == analysis::StreamKind::kOpenShort)
      return Complain("\"" + name + "\" is no stream with values to study");
    streams.push_back(s);
  }
  if (const std::string why = UnwritableOutput({&output_}); !why.empty()) return Complain(why);
  std::cerr << "Gauge study at station " << station_ << ": " << parts_ << " parts x " << trials_
            << " trials (the study has " << stations_ << " stations; run this at each).\n"
            << "Each trial measures every part once; number the parts and keep the numbers.\n";
  std::ostringstream rows;
  std::string link;
  for (int t = 1; t <= trials_; ++t)
    for (int p = 1; p <= parts_; ++p) {
      std::cerr << "Trial " << t << " of " << trials_ << ": put part " << p << " in and press "
                << "Enter (q and Enter to stop) ... " << std::flush;
      std::string answer;
      if (!std::getline(std::cin, answer) || answer == "q")
        return Complain("stopped: nothing added to " + output_, kExitInterrupted);
      std::vector<analysis::ElectrodeStats> stats;
      int code = 0;
      if (!MeasureStreams(g, streams, scans_, stats, link, code)) return code;
      for (size_t s = 0; s < streams.size(); ++s)
        for (int i = 0; i < stats[s].Layout().Size(); ++i)
          rows << Field(std::to_string(p)) << "," << Field(station_) << "," << t << ","
               << Field(std::string(streams[s]->name) + " " + stats[s].Layout().Name(i) + " mean")
               << "," << Number(stats[s].Summary(i).mean) << "\n";
      std::cerr << "measured\n";
    }
  // The rows of a station are added whole, after its last measurement.
  std::string existing;
  {
    std::ifstream in(output_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    existing = s.str();
  }
  if (existing.empty()) existing = "part,station,trial,check,value\n";
  std::string why;
  if (!WriteFileAtomically(output_, existing + rows.str(), why)) return Complain(why);
  std::cerr << "vantrel: " << parts_ * trials_ << " measurements of station " << station_ << " on "
            << link << " added to " << output_
            << "; with every station measured: vantrel grr --data " << output_ << "\n";
  return kExitPass;
}
