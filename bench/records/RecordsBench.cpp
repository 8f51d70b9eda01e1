// Results database figures: storing one 38 x 22 self test (about 500 values) in SQLite
// (a file in WAL mode) and on a PostgreSQL server of its own (a local socket, default
// durability), and the full yield report (capability, drift alarms, the units behind the
// failures) over 100,000 stored runs, with the program's peak memory.
//
//   bench_records [--quick] [--runs N] [--keep FILE] [--pg-runs N]
// --keep: the 100,000-run database is made once and kept in FILE for later runs.
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

// 100,000 runs over 100 days and 8 stations: some fail an electrode, some units are
// tested again, the means drift slowly. Written 1000 runs per transaction.
bool Fill(records::ResultsStore& store, int runs) {
  std::mt19937 rng(29);
  std::uniform_int_distribution<int> pct(0, 99), electrode(0, 59);
  const auto t0 = Clock::now();
  int serial = 0;
  for (int i = 0; i < runs; ++i) {
    if (i % 1000 == 0 && !store.Db().BeginWrite()) return false;
    const int day = i * 100 / runs;
    char when[40];
    std::snprintf(when, sizeof when, "2026-%02d-%02dT%02d:%02d:00.000Z", 1 + day / 28,
                  1 + day % 28, 6 + (i % 12), i % 60);
    const bool retest = pct(rng) < 3 && serial > 0;
    const std::string sn = "SN" + std::to_string(retest ? serial : ++serial);
    const int bad = pct(rng) < 6 ? electrode(rng) : -1;
    auto run = MadeUpRun(sn, "ST" + std::to_string(i % 8), when, bad, day * 0.2);
    if (store.Write(run) == records::ResultsStore::Saved::kFailed) {
      std::fprintf(stderr, "bench_records: %s\n", store.Error().c_str());
      return false;
    }
    if ((i + 1) % 1000 == 0 || i + 1 == runs) {
      if (!store.Db().Commit()) return false;
      if ((i + 1) % 10000 == 0)
        std::fprintf(stderr, "  %d runs stored (%.0f s)\n", i + 1, Ms(t0, Clock::now()) / 1000);
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

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  bool quick = false;
  int runs = 100000, pgRuns = 0;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--quick")) quick = true;
    else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--keep") && i + 1 < argc) keep = argv[++i];
    else if (!std::strcmp(argv[i], "--pg-runs") && i + 1 < argc) pgRuns = std::atoi(argv[++i]);
    else {
      std::printf("usage: bench_records [--quick] [--runs N] [--keep FILE] [--pg-runs N]\n");
      return std::strcmp(argv[i], "--help") ? 2 : 0;
    }
  }
  if (quick && keep.empty()) runs = std::min(runs, 5000);
  const int saves = quick ? 30 : 200;
  const std::string tmp = std::filesystem::temp_directory_path() / "vt-bench-records";
  std::filesystem::remove_all(tmp);
  std::filesystem::create_directories(tmp);
  std::string error;
  const size_t values = MadeUpRun("x", "y", "2026-01-01T00:00:00.000Z").checks.size();
  std::printf("one self test: %zu values\n", values);

  {  // SQLite
    records::ResultsUrl u;
    u.path = tmp + "/store.db";
    auto store = records::ResultsStore::Open(u, error);
    std::vector<double> ms;
    if (!store || !TimeSaves(*store, saves, ms)) return 1;
    Report("store a self test, SQLite", Of(ms), 20);
  }
  {  // PostgreSQL
    PgCluster pg;
    if (!pg.Start()) {
      std::fprintf(stderr, "bench_records: no PostgreSQL server could be started\n");
    } else {
      records::ResultsUrl u;
      std::string e;
      records::ResultsUrl::Parse(pg.Url(), u, e);
      auto store = records::ResultsStore::Open(u, error);
      std::vector<double> ms;
      if (!store || !TimeSaves(*store, saves, ms)) return 1;
      Report("store a self test, PostgreSQL", Of(ms), 50);
      // The report on the server: filled as the SQLite file is, the server's own memory
      // not counted.
      if (pgRuns > 0) {
        std::fprintf(stderr, "storing %d runs on PostgreSQL for the report...\n", pgRuns);
        const auto t0 = Clock::now();
        if (!Fill(*store, pgRuns)) {
          std::fprintf(stderr, "bench_records: %s\n", store->Error().c_str());
          return 1;
        }
        std::printf("PostgreSQL: %d runs stored in %.0f s\n", pgRuns, Ms(t0, Clock::now()) / 1000);
        std::ofstream("/proc/self/clear_refs") << "5";
        if (!TimeReports(*store, "PostgreSQL")) return 1;
      }
    }
  }
  {  // The report
    records::ResultsUrl u;
    u.path = keep.empty() ? tmp + "/report.db" : keep;
    if (!std::filesystem::exists(u.path)) {
      // Made under another name, so an interrupted fill is never taken for a whole one.
      const std::string filling = u.path + ".filling";
      std::filesystem::remove(filling);
      records::ResultsUrl f;
      f.path = filling;
      auto fill = records::ResultsStore::Open(f, error);
      std::fprintf(stderr, "storing %d runs for the report...\n", runs);
      if (!fill || !fill->Db().Exec("PRAGMA cache_size=-262144") || !Fill(*fill, runs)) return 1;
      fill.reset();
      std::filesystem::rename(filling, u.path);
    }
    // The peak memory of the report alone: the fill's is forgotten.
    std::ofstream("/proc/self/clear_refs") << "5";
    auto store = records::ResultsStore::Open(u, error);
    if (!store || !TimeReports(*store, "SQLite")) return 1;
  }
  if (keep.empty()) std::filesystem::remove_all(tmp);
  return 0;
}
