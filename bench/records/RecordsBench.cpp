// Results database figures: storing one 38 x 22 self test (about 500 values) in SQLite
// (a file in WAL mode) and on a PostgreSQL server of its own (a local socket, default
// durability), and the full yield report (capability, drift alarms, the units behind the
// failures) over 100,000 stored runs, with the program's peak memory.
//
//   bench_records [--quick] [--runs N] [--keep FILE [--fill-to M]] [--pg-runs N]
// --keep: the 100,000-run database is made once and kept in FILE for later runs.
// --fill-to: only fill FILE, up to run M of the N planned, and stop; the next call with a
//   larger M goes on from there (FILE.filling is a whole database of M runs meanwhile).
// --pg-runs: the report also over N runs stored on the PostgreSQL server (made anew).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/common/BenchSummary.h"
#include "records/HtmlReport.h"
#include "records/LineReport.h"
#include "records/ReportData.h"
#include "records/ResultsStore.h"
#include "tests/common/PgCluster.h"
#include "tests/records/RecordsTestData.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// The process's peak resident memory since it was last reset, MB.
double PeakMb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
  return 0;
}

struct Spread {
  double median = 0, p95 = 0, worst = 0;
};
Spread Of(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  if (v.empty()) return {};
  return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 95 / 100)], v.back()};
}

// Saves `count` self tests one by one, each its own transaction; the time of each.
bool TimeSaves(records::ResultsStore& store, int count, std::vector<double>& ms) {
  for (int i = 0; i < count; ++i) {
    const auto run = MadeUpRun("SN" + std::to_string(i), "ST1", records::UtcNow(), i % 7 ? -1 : 3);
    const auto t0 = Clock::now();
    if (store.Save(run) != records::ResultsStore::Saved::kStored) {
      std::fprintf(stderr, "bench_records: %s\n", store.Error().c_str());
      return false;
    }
    ms.push_back(Ms(t0, Clock::now()));
  }
  return true;
}

void Report(const std::string& name, const Spread& s, double target) {
  std::printf("%-28s median %7.2f ms  p95 %7.2f ms  worst %7.2f ms\n", name.c_str(), s.median,
              s.p95, s.worst);
  BenchSummary::Add("records", name + " (median, p95)",
                    BenchSummary::Fixed(s.median, 2) + " ms, " + BenchSummary::Fixed(s.p95, 2) + " ms",
                    "< " + BenchSummary::Fixed(target, 0) + " ms",
                    s.median < target ? BenchSummary::Verdict::kMet : BenchSummary::Verdict::kMissed);
}

// The made-up line's run i: each run its own random draws, so that a fill stopped at a
// stage goes on exactly as one fill would have.
struct Draw {
  bool retest = false;
  int bad = -1;  // the failing electrode, -1 for none
};
Draw DrawOf(int i) {
  std::mt19937 rng(static_cast<unsigned>(i) * 2654435761u + 29u);
  std::uniform_int_distribution<int> pct(0, 99), electrode(0, 59);
  Draw d;
  d.retest = pct(rng) < 3;
  if (pct(rng) < 6) d.bad = electrode(rng);
  return d;
}

// Runs [from, to) of a line of `runs` runs over 100 days and 8 stations: some fail an
// electrode, some units are tested again, the means drift slowly. Each run goes through
// the store's own write, `perCommit` runs a transaction.
bool Fill(records::ResultsStore& store, int runs, int from, int to, int perCommit = 1000) {
  int serial = 0;
  for (int i = 0; i < from; ++i)
    if (!(DrawOf(i).retest && serial > 0)) ++serial;
  const auto t0 = Clock::now();
  for (int i = from; i < to; ++i) {
    if ((i - from) % perCommit == 0 && !store.Db().BeginWrite()) return false;
    const int day = static_cast<int>(int64_t{i} * 100 / runs);
    char when[40];
    std::snprintf(when, sizeof when, "2026-%02d-%02dT%02d:%02d:00.000Z", 1 + day / 28,
                  1 + day % 28, 6 + (i % 12), i % 60);
    const Draw d = DrawOf(i);
    const bool retest = d.retest && serial > 0;
    const std::string sn = "SN" + std::to_string(retest ? serial : ++serial);
    auto run = MadeUpRun(sn, "ST" + std::to_string(i % 8), when, d.bad, day * 0.2);
    if (store.Write(run) == records::ResultsStore::Saved::kFailed) {
      std::fprintf(stderr, "bench_records: %s\n", store.Error().c_str());
      return false;
    }
    if ((i + 1 - from) % perCommit == 0 || i + 1 == to) {
      if (!store.Db().Commit()) return false;
      const double s = Ms(t0, Clock::now()) / 1000;
      if ((i + 1) % 10000 == 0)
        std::fprintf(stderr, "  %d runs stored (%.0f s, %.0f runs/s)\n", i + 1, s,
                     (i + 1 - from) / std::max(s, 0.001));
    }
  }
  return true;
}

// The full report over the store, three times: median, worst, peak memory of this process.
bool TimeReports(records::ResultsStore& store, const std::string& where) {
  std::vector<double> ms;
  long stored = 0;
  std::string error;
  for (int i = 0; i < 3; ++i) {
    const auto t0 = Clock::now();
    records::ReportData data;
    records::LineData line;
    const records::LineOptions options;
    if (!records::LoadReportData(store.Db(), {}, data, error) ||
        !records::LoadLineData(store.Db(), {}, options, line, error)) {
      std::fprintf(stderr, "bench_records: %s\n", error.c_str());
      return false;
    }
    const std::string html = records::LineReport::Render(data, line, options);
    ms.push_back(Ms(t0, Clock::now()));
    stored = data.runs;
    if (i == 0)
      std::printf("report (%s): %ld runs, %zu bytes of HTML, first-pass yield %s\n",
                  where.c_str(), data.runs, html.size(),
                  records::HtmlReport::Percent(data.FirstPassPassed(), data.FirstPassUnits()).c_str());
  }
  const Spread s = Of(ms);
  const double peakMb = PeakMb();
  std::printf("report over %ld runs (%s): median %.0f ms, worst %.0f ms, peak memory %.0f MB\n",
              stored, where.c_str(), s.median, s.worst, peakMb);
  BenchSummary::Add("records", "report with capability and alarms (" + where + "), peak memory",
                    BenchSummary::Fixed(peakMb, 0) + " MB", "< 200 MB",
                    peakMb < 200 ? BenchSummary::Verdict::kMet : BenchSummary::Verdict::kMissed);
  BenchSummary::Add("records",
                    "report over " + std::to_string(stored) + " runs (" + where + ", median)",
                    BenchSummary::Fixed(s.median / 1000, 2) + " s", "< 5 s",
                    s.median < 5000 ? BenchSummary::Verdict::kMet : BenchSummary::Verdict::kMissed);
  return true;
}

// The report's database in `path`, made as `path`.filling so that an interrupted fill is
// never taken for a whole one. A fill stopped at run `fillTo` leaves the file and a note
// of where it stopped beside it; the next call goes on from there. The fill's file has no
// journal and is never synced: the same rows, written faster; a crash loses the file.
enum class Filled { kWhole, kStage, kFailed };
Filled FillKept(const std::string& path, int runs, int fillTo) {
  const std::string filling = path + ".filling", stage = filling + ".stage";
  int from = 0, planned = 0;
  std::ifstream(stage) >> from >> planned;
  if (planned != runs || from <= 0 || from > runs || !std::filesystem::exists(filling)) {
    from = 0;
    std::filesystem::remove(filling);
  }
  std::filesystem::remove(stage);
  const int to = fillTo > 0 ? std::min(runs, std::max(from, fillTo)) : runs;
  std::fprintf(stderr, "storing runs %d to %d of %d for the report...\n", from, to, runs);
  records::ResultsUrl f;
  f.path = filling;
  std::string error;
  auto fill = records::ResultsStore::Open(f, error);
  if (!fill || !fill->Db().Exec("PRAGMA journal_mode=OFF") ||
      !fill->Db().Exec("PRAGMA synchronous=OFF") ||
      !fill->Db().Exec("PRAGMA cache_size=-1048576") || !Fill(*fill, runs, from, to, 10000)) {
    std::fprintf(stderr, "bench_records: %s\n", fill ? fill->Db().Error().c_str() : error.c_str());
    return Filled::kFailed;
  }
  fill.reset();
  if (to < runs) {
    std::ofstream(stage) << to << ' ' << runs << '\n';
    std::printf("%d of %d runs stored in %s\n", to, runs, filling.c_str());
    return Filled::kStage;
  }
  std::filesystem::rename(filling, path);
  return Filled::kWhole;
}

// Storing a self test, each its own transaction: SQLite, then PostgreSQL (with the
// report over `pgRuns` runs on the server when asked).
bool TimeStores(const std::string& tmp, int saves, int pgRuns) {
  std::string error;
  {
    records::ResultsUrl u;
    u.path = tmp + "/store.db";
    auto store = records::ResultsStore::Open(u, error);
    std::vector<double> ms;
    if (!store || !TimeSaves(*store, saves, ms)) return false;
    Report("store a self test, SQLite", Of(ms), 20);
  }
  PgCluster pg;
  if (!pg.Start()) {
    std::fprintf(stderr, "bench_records: no PostgreSQL server could be started\n");
    return true;
  }
  records::ResultsUrl u;
  records::ResultsUrl::Parse(pg.Url(), u, error);
  auto store = records::ResultsStore::Open(u, error);
  std::vector<double> ms;
  if (!store || !TimeSaves(*store, saves, ms)) return false;
  Report("store a self test, PostgreSQL", Of(ms), 50);
  if (pgRuns <= 0) return true;
  // The report on the server: filled as the SQLite file is, the server's own memory not
  // counted.
  std::fprintf(stderr, "storing %d runs on PostgreSQL for the report...\n", pgRuns);
  const auto t0 = Clock::now();
  if (!Fill(*store, pgRuns, 0, pgRuns)) {
    std::fprintf(stderr, "bench_records: %s\n", store->Error().c_str());
    return false;
  }
  std::printf("PostgreSQL: %d runs stored in %.0f s\n", pgRuns, Ms(t0, Clock::now()) / 1000);
  std::ofstream("/proc/self/clear_refs") << "5";
  return TimeReports(*store, "PostgreSQL");
}

struct Options {
  bool quick = false;
  int runs = 100000, pgRuns = 0, fillTo = 0;
  std::string keep;
};

// False with the exit code for a usage error or --help.
bool Parse(int argc, char** argv, Options& o, int& exitCode) {
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--quick")) o.quick = true;
    else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) o.runs = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--keep") && i + 1 < argc) o.keep = argv[++i];
    else if (!std::strcmp(argv[i], "--pg-runs") && i + 1 < argc) o.pgRuns = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--fill-to") && i + 1 < argc) o.fillTo = std::atoi(argv[++i]);
    else {
      std::printf("usage: bench_records [--quick] [--runs N] [--keep FILE [--fill-to M]]"
                  " [--pg-runs N]\n");
      exitCode = std::strcmp(argv[i], "--help") ? 2 : 0;
      return false;
    }
  }
  if (o.fillTo > 0 && o.keep.empty()) {
    std::printf("bench_records: --fill-to needs --keep FILE\n");
    exitCode = 2;
    return false;
  }
  if (o.quick && o.keep.empty()) o.runs = std::min(o.runs, 5000);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Options o;
  int exitCode = 0;
  if (!Parse(argc, argv, o, exitCode)) return exitCode;
  if (o.fillTo > 0) return FillKept(o.keep, o.runs, o.fillTo) == Filled::kFailed ? 1 : 0;
  const std::string tmp = std::filesystem::temp_directory_path() / "vt-bench-records";
  std::filesystem::remove_all(tmp);
  std::filesystem::create_directories(tmp);
  const size_t values = MadeUpRun("x", "y", "2026-01-01T00:00:00.000Z").checks.size();
  std::printf("one self test: %zu values\n", values);
  if (!TimeStores(tmp, o.quick ? 30 : 200, o.pgRuns)) return 1;

  const std::string path = o.keep.empty() ? tmp + "/report.db" : o.keep;
  if (!std::filesystem::exists(path) && FillKept(path, o.runs, 0) != Filled::kWhole) return 1;
  // The peak memory of the report alone: the fill's is forgotten.
  std::ofstream("/proc/self/clear_refs") << "5";
  records::ResultsUrl u;
  u.path = path;
  std::string error;
  auto store = records::ResultsStore::Open(u, error);
  if (!store || !TimeReports(*store, "SQLite")) return 1;
  if (o.keep.empty()) std::filesystem::remove_all(tmp);
  return 0;
}
