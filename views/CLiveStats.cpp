#include "CLiveStats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <sstream>

#include "analysis/Limits.h"
#include "analysis/LimitsCheck.h"
#include "analysis/LimitsLearn.h"
#include "savefile/AtomicFile.h"

namespace {

constexpr uint8_t kDataGroup = 0x4B;

// The stream and the part of it whose reports carry this data code; null when unknown.
const analysis::StreamInfo* StreamOf(uint8_t code, const analysis::StreamPart** part) {
  for (const analysis::StreamInfo& s : analysis::AllStreams()) {
    for (int k = 0; k < s.partCount; ++k) {
      if (s.parts[k].dataCode != code) continue;
      *part = &s.parts[k];
      return &s;
    }
  }
  return nullptr;
}

bool Carries(const analysis::StreamInfo& s, int code) {
  for (int k = 0; k < s.partCount; ++k)
    if (s.parts[k].dataCode == code) return true;
  return false;
}

}  // namespace

std::string CLiveStats::StreamLabel(int code) {
  const analysis::StreamPart* part = nullptr;
  const analysis::StreamInfo* s = code >= 0 ? StreamOf(static_cast<uint8_t>(code), &part) : nullptr;
  return s != nullptr ? s->label : std::string();
}

CLiveStats::CLiveStats() = default;
CLiveStats::~CLiveStats() = default;

void CLiveStats::SetCounts(int xCount, int yCount) {
  xCount = std::clamp(xCount, 0, 255);
  yCount = std::clamp(yCount, 0, 255);
  if (xCount == xCount_ && yCount == yCount_) return;
  xCount_ = xCount;
  yCount_ = yCount;
  std::string why;
  if (limits_) limitsFit_ = FitLimits(*limits_, why);
  if (streamCode_ >= 0) StartStream(static_cast<uint8_t>(streamCode_));
}

void CLiveStats::SetWindow(int scans) {
  scans = std::clamp(scans, 1, kMaxScans);
  if (scans == window_) return;
  // Keep the newest scans that fit, oldest first.
  const size_t n = static_cast<size_t>(layout_.Size());
  const int keep = std::min(held_, scans);
  std::vector<int32_t> ring(static_cast<size_t>(scans) * n);
  for (int k = 0; k < keep; ++k) {
    const int from = ((head_ - keep + k) % window_ + window_) % window_;
    std::copy_n(ring_.begin() + static_cast<ptrdiff_t>(from * n), n,
                ring.begin() + static_cast<ptrdiff_t>(k * n));
  }
  ring_.swap(ring);
  window_ = scans;
  held_ = keep;
  head_ = keep % window_;
  dirty_ = true;
}

void CLiveStats::Reset() {
  held_ = 0;
  head_ = 0;
  total_ = 0;
  dirty_ = true;
  if (scans_) scans_->Reset();
}

void CLiveStats::StartStream(uint8_t code) {
  streamCode_ = code;
  const analysis::StreamPart* part = nullptr;
  stream_ = StreamOf(code, &part);
  // A code no stream names: both axes, as the views draw it.
  layout_ = part != nullptr ? analysis::ScanLayout::For(*part, xCount_, yCount_)
                            : analysis::ScanLayout{xCount_, yCount_};
  const analysis::StreamKind kind = stream_ != nullptr ? stream_->kind : analysis::StreamKind::kRaw;
  scans_ = std::make_unique<analysis::ScanAssembler>(code, layout_);
  stats_ = std::make_unique<analysis::ElectrodeStats>(layout_, kind, Options());
  ring_.assign(static_cast<size_t>(window_) * static_cast<size_t>(layout_.Size()), 0);
  summaries_.clear();
  if (baseline_.size() != static_cast<size_t>(layout_.Size())) baseline_.clear();
  Reset();
}

bool CLiveStats::Add(const DataRecord& r) {
  if (r.group != kDataGroup || r.values == nullptr || r.count == 0) return false;
  if (r.code != streamCode_) StartStream(r.code);
  if (r.direction == 1) xRow_ = r.startY;
  if (r.direction == 0) yColumn_ = r.startX;
  if (!scans_->Add(r)) return false;
  const std::span<const int32_t> scan = scans_->Scan();
  std::copy(scan.begin(), scan.end(),
            ring_.begin() + static_cast<ptrdiff_t>(head_) * layout_.Size());
  head_ = (head_ + 1) % window_;
  held_ = std::min(held_ + 1, window_);
  ++total_;
  dirty_ = true;
  return true;
}

const std::vector<analysis::ElectrodeSummary>& CLiveStats::Summaries() {
  if (!dirty_) return summaries_;
  dirty_ = false;
  if (!stats_ || held_ == 0) {
    summaries_.clear();
    return summaries_;
  }
  stats_->Reset();
  const int n = layout_.Size();
  for (int k = 0; k < held_; ++k) {
    const int slot = (head_ - held_ + k + window_) % window_;
    stats_->Add(std::span<const int32_t>(ring_.data() + static_cast<ptrdiff_t>(slot) * n,
                                         static_cast<size_t>(n)));
  }
  summaries_ = stats_->Summaries();
  return summaries_;
}

std::vector<int> CLiveStats::Worst(int n) {
  const std::vector<analysis::ElectrodeSummary>& s = Summaries();
  std::vector<int> order(s.size());
  std::iota(order.begin(), order.end(), 0);
  const size_t keep = std::min(order.size(), static_cast<size_t>(std::max(n, 0)));
  std::partial_sort(order.begin(), order.begin() + static_cast<ptrdiff_t>(keep), order.end(),
                    [&s](int a, int b) {
                      if (s[a].stddev != s[b].stddev) return s[a].stddev > s[b].stddev;
                      if (s[a].p2p != s[b].p2p) return s[a].p2p > s[b].p2p;
                      return a < b;
                    });
  order.resize(keep);
  return order;
}

const char* CLiveStats::FlagOf(const analysis::ElectrodeSummary& s) {
  // The thresholds of open/short data hold for every stream around the zero line 1000.
  const analysis::StatsOptions limits;
  if (s.shorted || s.mean > limits.shortAbove) return "short";
  if (s.open || s.mean < limits.openBelow) return "open";
  return nullptr;
}

std::vector<CLiveStats::Mark> CLiveStats::Marked() {
  const std::vector<analysis::ElectrodeSummary>& s = Summaries();
  const std::vector<analysis::LimitValues> limits = ElectrodeLimits();
  const std::vector<std::string> outside = OutsideLimits();
  std::vector<Mark> marks;
  std::vector<bool> used(s.size(), true);
  std::vector<double> spread;
  for (size_t i = 0; i < s.size(); ++i) {
    if (i < limits.size() && limits[i].unused) {
      used[i] = false;
      continue;
    }
    spread.push_back(s[i].stddev);
    const char* flag = FlagOf(s[i]);
    std::string rule = flag != nullptr ? flag : "";
    if (rule.empty() && i < outside.size() && !outside[i].empty()) rule = "limits: " + outside[i];
    if (!rule.empty()) marks.push_back({static_cast<int>(i), rule});
  }
  if (spread.empty()) return marks;
  // Noisy against the panel's own spread: never just the largest of equals.
  const auto mid = spread.begin() + static_cast<ptrdiff_t>(spread.size() / 2);
  std::nth_element(spread.begin(), mid, spread.end());
  const double median = *mid;
  const double above = std::max(kNoisyFactor * median, 1.0);
  for (int e : Worst(static_cast<int>(s.size()))) {
    const analysis::ElectrodeSummary& x = s[static_cast<size_t>(e)];
    if (x.stddev <= above) break;  // nor are those after it
    if (!used[static_cast<size_t>(e)] || FlagOf(x) != nullptr) continue;
    const bool marked =
        std::any_of(marks.begin(), marks.end(), [e](const Mark& m) { return m.electrode == e; });
    if (marked) continue;
    char rule[96];
    std::snprintf(rule, sizeof(rule), "noisy: std %.1f > %g x median %.1f", x.stddev, kNoisyFactor,
                  median);
    marks.push_back({e, rule});
  }
  return marks;
}

bool CLiveStats::FitLimits(analysis::Limits& limits, std::string& err) const {
  if ((limits.xCount && *limits.xCount != xCount_) ||
      (limits.yCount && *limits.yCount != yCount_)) {
    err = limits.path + ": the limits are for a panel of " +
          std::to_string(limits.xCount.value_or(xCount_)) + " x " +
          std::to_string(limits.yCount.value_or(yCount_)) + " electrodes; this one has " +
          std::to_string(xCount_) + " x " + std::to_string(yCount_) + ".";
    return false;
  }
  analysis::LimitsError e;
  if (!analysis::ResolveLimits(limits, xCount_, yCount_, e)) {
    err = e.Text();
    return false;
  }
  return true;
}

bool CLiveStats::LoadLimits(const std::string& path, std::string& err) {
  auto limits = std::make_unique<analysis::Limits>();
  analysis::LimitsError e;
  if (!analysis::LoadLimits(path, *limits, e)) {
    err = e.Text();
    return false;
  }
  if (!FitLimits(*limits, err)) return false;
  limits_ = std::move(limits);
  limitsPath_ = path;
  limitsFit_ = true;
  // The file's open and short thresholds count from now on.
  if (stats_)
    stats_ = std::make_unique<analysis::ElectrodeStats>(layout_, stats_->Kind(), Options());
  dirty_ = true;
  return true;
}

const analysis::StreamLimits* CLiveStats::ShownLimits() const {
  if (!limits_ || !limitsFit_ || streamCode_ < 0) return nullptr;
  for (const analysis::StreamLimits& s : limits_->streams) {
    if (Carries(*s.stream, streamCode_)) return &s;
  }
  return nullptr;
}

analysis::StatsOptions CLiveStats::Options() const {
  analysis::StatsOptions options;
  if (const analysis::StreamLimits* l = ShownLimits()) {
    if (l->openBelow) options.openBelow = *l->openBelow;
    if (l->shortAbove) options.shortAbove = *l->shortAbove;
  }
  return options;
}

std::vector<analysis::LimitValues> CLiveStats::ElectrodeLimits() const {
  const analysis::StreamLimits* l = ShownLimits();
  if (l == nullptr) return {};
  // The file's limits cover the whole stream (X, then Y); the reports of one data code
  // may carry one axis of it.
  std::vector<analysis::LimitValues> v(static_cast<size_t>(layout_.Size()));
  for (int k = 0; k < layout_.Size(); ++k) {
    const int at = k < layout_.xCount ? k : l->layout.xCount + k - layout_.xCount;
    if (at < static_cast<int>(l->perElectrode.size()))
      v[static_cast<size_t>(k)] = l->perElectrode[static_cast<size_t>(at)];
  }
  return v;
}

std::vector<std::string> CLiveStats::OutsideLimits() {
  const analysis::StreamLimits* l = ShownLimits();
  if (l == nullptr || !stats_ || Summaries().empty()) return {};
  analysis::StreamLimits shown = *l;
  shown.layout = layout_;
  shown.perElectrode = ElectrodeLimits();
  std::vector<analysis::Check> checks;
  analysis::CheckStream(shown, *stats_, checks);
  std::vector<std::string> failed(static_cast<size_t>(layout_.Size()));
  int k = 0;  // checks come electrode by electrode, in the layout's order
  for (const analysis::Check& c : checks) {
    if (c.pass) continue;
    while (k < layout_.Size() && layout_.Name(k) != c.item) ++k;
    if (k == layout_.Size()) break;
    std::string& f = failed[static_cast<size_t>(k)];
    f += (f.empty() ? "" : ", ") + c.check;
  }
  return failed;
}

std::vector<double> CLiveStats::MapValues(MapMode mode) {
  const std::vector<analysis::ElectrodeSummary>& s = Summaries();
  if (mode == MapMode::kValue || s.empty()) return {};
  std::vector<double> v(s.size(), 0.0);
  const bool base = baseline_.size() == s.size();
  for (size_t i = 0; i < s.size(); ++i) {
    if (mode == MapMode::kNoise) v[i] = s[i].stddev;
    if (mode == MapMode::kPeakToPeak) v[i] = s[i].p2p;
    if (mode == MapMode::kDifference && base) v[i] = s[i].mean - baseline_[i];
  }
  return v;
}

std::vector<int32_t> CLiveStats::LastScan() const {
  if (held_ == 0) return {};
  const int n = layout_.Size();
  const auto at = ring_.begin() + static_cast<ptrdiff_t>((head_ - 1 + window_) % window_) * n;
  return std::vector<int32_t>(at, at + n);
}

int CLiveStats::Hottest(MapMode mode) {
  const std::vector<double> v = MapValues(mode);
  int best = -1;
  for (size_t i = 0; i < v.size(); ++i) {
    if (best < 0 || std::fabs(v[i]) > std::fabs(v[static_cast<size_t>(best)]))
      best = static_cast<int>(i);
  }
  return best;
}

bool CLiveStats::TakeBaseline() {
  const std::vector<analysis::ElectrodeSummary>& s = Summaries();
  if (s.empty()) return false;
  baseline_.resize(s.size());
  for (size_t i = 0; i < s.size(); ++i) baseline_[i] = s[i].mean;
  return true;
}

bool CLiveStats::SaveBaseline(const std::string& path, std::string& err) const {
  if (baseline_.empty() || stream_ == nullptr) {
    err = "No baseline of a known data stream to save.";
    return false;
  }
  analysis::Limits limits;
  limits.xCount = xCount_;
  limits.yCount = yCount_;
  analysis::StreamLimits s;
  s.stream = stream_;
  s.layout = layout_;
  for (int i = 0; i < layout_.Size(); ++i) {
    const bool x = i < layout_.xCount;
    const int index = x ? i : i - layout_.xCount;
    analysis::LimitValues v;
    // Two decimals keep the mean a difference view needs.
    v.meanMin = v.meanMax = std::round(baseline_[static_cast<size_t>(i)] * 100) / 100;
    s.entries.push_back(analysis::LimitEntry{
        {analysis::ElectrodeSelector{x ? 'X' : 'Y', index, index}}, v, {}, {}});
  }
  limits.streams.push_back(std::move(s));
  std::ostringstream out;
  analysis::WriteLimits(limits, "Baseline: each electrode's mean scan value.", out);
  std::string why;
  if (!savefile::AtomicFile::Write(path, out.str(), why)) {
    err = "Could not write " + path + ".";
    return false;
  }
  return true;
}

bool CLiveStats::LoadBaseline(const std::string& path, std::string& err) {
  analysis::Limits limits;
  analysis::LimitsError e;
  if (!analysis::LoadLimits(path, limits, e) ||
      !analysis::ResolveLimits(limits, limits.xCount.value_or(xCount_),
                               limits.yCount.value_or(yCount_), e)) {
    err = e.Text();
    return false;
  }
  for (const analysis::StreamLimits& s : limits.streams) {
    if (stream_ != nullptr && s.stream != stream_) continue;
    if (s.layout.xCount != layout_.xCount || s.layout.yCount != layout_.yCount) continue;
    std::vector<double> base(s.perElectrode.size());
    for (size_t i = 0; i < base.size(); ++i) {
      const analysis::LimitValues& v = s.perElectrode[i];
      if (!v.meanMin || !v.meanMax) {
        err = path + ": electrode " + s.layout.Name(static_cast<int>(i)) + " has no mean.";
        return false;
      }
      base[i] = (*v.meanMin + *v.meanMax) / 2;
    }
    baseline_ = std::move(base);
    return true;
  }
  err = path + ": no baseline for this stream and panel.";
  return false;
}

namespace {

std::string CsvField(const std::string& v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string out = "\"";
  for (char c : v) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

std::string CLiveStats::SummaryCsv() {
  const std::vector<analysis::ElectrodeSummary>& s = Summaries();
  std::vector<std::string> flag(s.size());
  for (const Mark& m : Marked()) flag[static_cast<size_t>(m.electrode)] = m.rule;
  const std::string tail = "," + CsvField(StreamLabel(streamCode_)) + "," + std::to_string(held_) +
                           "," + CsvField(limitsPath_) + "\n";
  std::string out = "electrode,min,max,mean,stddev,p2p,flag,stream,scans,limits\n";
  char buf[128];
  for (size_t i = 0; i < s.size(); ++i) {
    std::snprintf(buf, sizeof(buf), ",%d,%d,%.2f,%.3f,%d,", s[i].min, s[i].max, s[i].mean,
                  s[i].stddev, s[i].p2p);
    out += layout_.Name(static_cast<int>(i)) + buf + CsvField(flag[i]) + tail;
  }
  return out;
}
