// Live statistics of the data stream a view shows: complete scans assembled from the data
// reports, the last N of them kept, and their per-electrode figures from the statistics
// core (min, max, mean, standard deviation, peak-to-peak). A baseline scan (the mean of the
// kept scans) can be taken, saved and loaded for a difference view. No Qt: the window that
// owns it calls Add for each delivered record and reads the figures when it draws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/ElectrodeStats.h"
#include "analysis/Limits.h"
#include "analysis/ScanAssembler.h"
#include "link/TransTypes.h"

// What the value map shows of each electrode: its last value (drawn as it arrives), or a
// figure over the kept scans.
enum class MapMode { kValue, kNoise, kPeakToPeak, kDifference };

class CLiveStats {
 public:
  static constexpr int kDefaultScans = 100;
  static constexpr int kMaxScans = 10000;

  CLiveStats();
  ~CLiveStats();

  // Panel electrode counts; when they change, scans kept so far are forgotten.
  void SetCounts(int xCount, int yCount);
  // Scans the figures cover (1 ... kMaxScans); the oldest scans beyond it are dropped.
  void SetWindow(int scans);
  int Window() const { return window_; }
  // Forgets the kept scans (the baseline stays).
  void Reset();

  // One delivered record; records that are not data reports are ignored. A report of
  // another data code starts a new stream. True when it completed a scan.
  bool Add(const DataRecord& r);

  // "M0 raw data" for the data code of its reports; empty for an unknown code.
  static std::string StreamLabel(int code);

  uint64_t TotalScans() const { return total_; }  // complete scans since the last reset
  int Held() const { return held_; }              // scans the figures cover now
  const analysis::ScanLayout& Layout() const { return layout_; }
  // Where the value map draws the stream's electrodes: the X electrodes along the row of
  // their reports' start Y, the Y electrodes down the column of their start X.
  int XRow() const { return xRow_; }
  int YColumn() const { return yColumn_; }

  // Figures over the kept scans, recomputed when scans came since the last call.
  const std::vector<analysis::ElectrodeSummary>& Summaries();
  // Electrodes of the largest standard deviation (then peak-to-peak), worst first.
  std::vector<int> Worst(int n);
  // Electrodes to look at, each with the rule that marked it: every electrode whose mean
  // reads open (below 500) or short (above 1500), or that is outside the loaded limits;
  // then every electrode that stands out of the panel's own noise (standard deviation above
  // kNoisyFactor times the median of the panel's, and at least a count). Electrodes the
  // limits call unused are never marked.
  static constexpr double kNoisyFactor = 3.0;
  struct Mark {
    int electrode;
    // "open", "short", "limits: mean, p2p" (the checks failed),
    // "noisy: std 6.1 > 3 x median 2.0"
    std::string rule;
  };
  std::vector<Mark> Marked();
  // "open" or "short" for an electrode whose figures read so; null otherwise.
  static const char* FlagOf(const analysis::ElectrodeSummary& s);

  // Per electrode, in counts: standard deviation, peak-to-peak, or mean minus baseline
  // (0 without a baseline); empty for kValue or when no scan is kept.
  std::vector<double> MapValues(MapMode mode);
  // The newest complete scan, per electrode; empty when none is kept.
  std::vector<int32_t> LastScan() const;
  // The electrode of the largest magnitude in a mode; -1 when there is none.
  int Hottest(MapMode mode);

  // Baseline: the mean scan of the kept scans; false when none is kept.
  bool TakeBaseline();
  bool HasBaseline() const { return !baseline_.empty(); }
  const std::vector<double>& Baseline() const { return baseline_; }
  // The baseline as a limits file of the statistics core (each electrode's mean as both
  // its mean_min and mean_max) and back; false with a message in err.
  bool SaveBaseline(const std::string& path, std::string& err) const;
  bool LoadBaseline(const std::string& path, std::string& err);

  // Table of the figures, one line per electrode:
  // "electrode,min,max,mean,stddev,p2p,flag,stream,scans,limits" (the flag as Marked gives
  // it, the stream's label, the scans the figures cover, the limits file or "").
  std::string SummaryCsv();

  // Limits from a limits file, read and checked as the self test does. False, with the
  // reason in err, for a file that is not a limits file or is for another panel; the
  // limits held before stay then.
  bool LoadLimits(const std::string& path, std::string& err);
  bool HasLimits() const { return limits_ != nullptr; }
  const std::string& LimitsPath() const { return limitsPath_; }
  // Whether the loaded limits fit the panel counts, and name the stream shown.
  bool LimitsFitPanel() const { return limitsFit_; }
  bool LimitsNameStream() const { return ShownLimits() != nullptr; }

 private:
  void StartStream(uint8_t code);
  bool FitLimits(analysis::Limits& limits, std::string& err) const;
  const analysis::StreamLimits* ShownLimits() const;
  analysis::StatsOptions Options() const;
  // Per electrode of the stream shown: its limits, and the checks it fails ("" = none).
  std::vector<analysis::LimitValues> ElectrodeLimits() const;
  std::vector<std::string> OutsideLimits();

  int xCount_ = 38, yCount_ = 22;
  int window_ = kDefaultScans;
  int streamCode_ = -1;
  const analysis::StreamInfo* stream_ = nullptr;
  analysis::ScanLayout layout_;
  std::unique_ptr<analysis::ScanAssembler> scans_;
  std::unique_ptr<analysis::ElectrodeStats> stats_;
  std::vector<int32_t> ring_;  // window_ scans of layout_.Size() values
  int head_ = 0;               // next slot
  int held_ = 0;
  uint64_t total_ = 0;
  bool dirty_ = true;
  std::vector<analysis::ElectrodeSummary> summaries_;
  std::vector<double> baseline_;
  int xRow_ = 0, yColumn_ = 0;
  std::unique_ptr<analysis::Limits> limits_;  // resolved for the counts when they fit
  std::string limitsPath_;
  bool limitsFit_ = false;
};
