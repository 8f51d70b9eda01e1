#include "analysis/NoiseSweep.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "analysis/TouchTests.h"

namespace analysis {

namespace {

constexpr int kMaxPoints = 1'000'000;
// Readings are whole counts: their noise is never taken below the rounding's own.
const double kQuantisationNoise = 1 / std::sqrt(12.0);

std::string Num(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.6g", v);
  return b;
}

std::vector<std::string> SplitCsv(const std::string& line) {
  std::vector<std::string> out;
  std::string cell;
  std::istringstream in(line);
  while (std::getline(in, cell, ',')) out.push_back(cell);
  if (!line.empty() && line.back() == ',') out.emplace_back();
  return out;
}

bool ToDouble(const std::string& s, double& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  out = std::strtod(s.c_str(), &end);
  return *end == '\0';
}

constexpr const char* kHeader =
    "frequency_hz,waveform,vpp,touch,electrode,stddev,p2p,snr_db,ghosts,jitter_mm,rate_hz,"
    "scans,result";

}  // namespace

bool SweepFrequencies(const SweepPlan& p, std::vector<double>& out, std::string& why) {
  out.clear();
  if (!(p.fromHz > 0) || !(p.toHz >= p.fromHz)) {
    why = "the sweep needs 0 < --from <= --to";
    return false;
  }
  if (p.stepHz > 0) {
    if (p.log) {
      why = "--log spaces --points; --step is for a linear sweep";
      return false;
    }
    const double n = std::floor((p.toHz - p.fromHz) / p.stepHz + 1e-9) + 1;
    if (n > kMaxPoints) {
      why = "more than a million points";
      return false;
    }
    for (int i = 0; i < static_cast<int>(n); ++i) out.push_back(p.fromHz + i * p.stepHz);
    return true;
  }
  const int n = p.points > 0 ? p.points : 0;
  if (n < 1 || n > kMaxPoints) {
    why = "give --points (1 to a million) or --step";
    return false;
  }
  if (n == 1 || p.toHz == p.fromHz) {
    out.push_back(p.fromHz);
    return true;
  }
  for (int i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / (n - 1);
    out.push_back(p.log ? p.fromHz * std::pow(p.toHz / p.fromHz, t)
                        : p.fromHz + t * (p.toHz - p.fromHz));
  }
  out.back() = p.toHz;
  return true;
}

std::string FrequencyText(double hz) {
  const char* unit = "Hz";
  double v = hz;
  if (hz >= 1e6) {
    v = hz / 1e6;
    unit = "MHz";
  } else if (hz >= 1e3) {
    v = hz / 1e3;
    unit = "kHz";
  }
  char b[32];
  std::snprintf(b, sizeof b, "%.6g %s", v, unit);
  return b;
}

double NoisePoint::WorstStddev() const {
  double w = 0;
  for (const auto& e : electrodes) w = std::max(w, e.stddev);
  return w;
}

double NoisePoint::WorstP2p() const {
  double w = 0;
  for (const auto& e : electrodes) w = std::max(w, e.p2p);
  return w;
}

std::optional<double> NoisePoint::WorstSnrDb() const {
  std::optional<double> w;
  for (const auto& e : electrodes)
    if (e.snrDb && (!w || *e.snrDb < *w)) w = e.snrDb;
  return w;
}

NoisePoint MeasurePoint(double hz, const ElectrodeStats& stats, const StrokeTracker& tracker,
                        bool held, double seconds, const TouchGeometry& geometry) {
  NoisePoint p;
  p.hz = hz;
  p.scans = stats.Scans();
  const StatsOptions& o = stats.Options();
  for (const ElectrodeSummary& s : stats.Summaries()) {
    ElectrodeNoise e;
    e.stddev = s.stddev;
    e.p2p = s.p2p;
    const double signal = s.mean - o.zeroLine;
    if (held && stats.Kind() == StreamKind::kSignal && stats.Scans() > 0 &&
        signal >= o.touchThreshold)
      e.snrDb = 20 * std::log10(signal / std::max(s.stddev, kQuantisationNoise));
    p.electrodes.push_back(e);
  }
  const auto& strokes = tracker.Strokes();
  if (!held) {
    p.ghosts = static_cast<int>(strokes.size());
    p.rateHz = seconds > 0 ? static_cast<double>(tracker.Reports()) / seconds : 0;
    return p;
  }
  const Stroke* finger = nullptr;
  for (const Stroke& s : strokes)
    if (!finger || s.points.size() > finger->points.size()) finger = &s;
  p.ghosts = strokes.empty() ? 0 : static_cast<int>(strokes.size()) - 1;
  if (finger && finger->points.size() >= 3) {
    p.rateHz = StrokeRate(finger->points).hz;
    if (geometry.HasMm())
      p.jitterMm = SpreadMm(finger->points.begin(), finger->points.end(), geometry);
  }
  return p;
}

std::vector<Check> CheckPoint(const NoisePoint& p, const ScanLayout& layout,
                             const NoiseLimits& limits, bool held) {
  std::vector<Check> out;
  const std::string group = FrequencyText(p.hz);
  // Shown with the unit where it is one of the panel's (mm, dB), as counts without.
  auto add = [&](const std::string& item, const char* check, double v, const char* unit,
                 std::optional<double> lo, std::optional<double> hi) {
    Check c{group, item, check, v, "", unit, lo, hi, "", (!lo || v >= *lo) && (!hi || v <= *hi)};
    if (c.unit == "mm" || c.unit == "dB") {
      c.text = FormatNumber(v) + " " + unit;
      c.limitText = c.Limit() + " " + unit;
    }
    out.push_back(std::move(c));
  };
  if (limits.ghostMax) add("", "ghosts", p.ghosts, "", std::nullopt, *limits.ghostMax);
  if (held && limits.jitterMaxMm && p.jitterMm)
    add("", "jitter", *p.jitterMm, "mm", std::nullopt, *limits.jitterMaxMm);
  for (size_t i = 0; i < p.electrodes.size(); ++i) {
    const ElectrodeNoise& e = p.electrodes[i];
    const std::string name = layout.Name(static_cast<int>(i));
    if (limits.stddevMax) add(name, "stddev", e.stddev, "counts", std::nullopt, *limits.stddevMax);
    if (limits.p2pMax) add(name, "p2p", e.p2p, "counts", std::nullopt, *limits.p2pMax);
    if (held && limits.snrMinDb && e.snrDb)
      add(name, "snr", *e.snrDb, "dB", *limits.snrMinDb, std::nullopt);
  }
  return out;
}

void WriteSweepHeader(std::ostream& out) {
  out << kHeader << "\r\n";
}

void WriteSweepPoint(std::ostream& out, const SweepSettings& s, const NoisePoint& p,
                     const ScanLayout& layout, const std::vector<Check>& checks) {
  char hz[32];
  std::snprintf(hz, sizeof hz, "%.12g", p.hz);  // read back as the plan's frequency
  const std::string lead = std::string(hz) + "," + s.waveform + "," + Num(s.vpp) + "," + s.touch + ",";
  bool pointPass = true;
  for (const Check& c : checks) pointPass = pointPass && c.pass;
  for (size_t i = 0; i < p.electrodes.size(); ++i) {
    const ElectrodeNoise& e = p.electrodes[i];
    const std::string name = layout.Name(static_cast<int>(i));
    bool pass = true;
    for (const Check& c : checks)
      if (c.item == name) pass = pass && c.pass;
    out << lead << name << "," << Num(e.stddev) << "," << Num(e.p2p) << ","
        << (e.snrDb ? Num(*e.snrDb) : "") << ",,,,," << (pass ? "pass" : "fail") << "\r\n";
  }
  const std::optional<double> snr = p.WorstSnrDb();
  out << lead << "all," << Num(p.WorstStddev()) << "," << Num(p.WorstP2p()) << ","
      << (snr ? Num(*snr) : "") << "," << p.ghosts << ","
      << (p.jitterMm ? Num(*p.jitterMm) : "") << "," << Num(p.rateHz) << "," << p.scans << ","
      << (pointPass ? "pass" : "fail") << "\r\n";
}

bool ReadSweepFile(std::istream& in, const SweepSettings& s, const ScanLayout& layout,
                   std::vector<NoisePoint>& points, uint64_t& end, std::string& why) {
  points.clear();
  return ReadSweepFile(
      in, s, layout, [&](const NoisePoint& p) { points.push_back(p); }, end, why);
}

bool ReadSweepFile(std::istream& in, const SweepSettings& s, const ScanLayout& layout,
                   const std::function<void(const NoisePoint&)>& each, uint64_t& end,
                   std::string& why) {
  end = 0;
  std::string line;
  uint64_t offset = 0;
  int lineNo = 0;
  NoisePoint cur;
  bool started = false;
  while (std::getline(in, line)) {
    ++lineNo;
    const bool whole = !in.eof();  // a last line without its end is unfinished
    offset += line.size() + (whole ? 1 : 0);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (lineNo == 1) {
      if (line != kHeader) {
        why = "not a sweep file (its first line is not the sweep header)";
        return false;
      }
      end = offset;
      continue;
    }
    if (!whole) break;
    const std::vector<std::string> c = SplitCsv(line);
    double hz = 0, vpp = 0;
    if (c.size() != 13 || !ToDouble(c[0], hz) || !ToDouble(c[2], vpp)) {
      why = "line " + std::to_string(lineNo) + ": not a row of a sweep file";
      return false;
    }
    if (c[1] != s.waveform || std::fabs(vpp - s.vpp) > 1e-9 * std::max(1.0, vpp) ||
        c[3] != s.touch) {
      why = "line " + std::to_string(lineNo) + ": made with " + c[1] + " " + c[2] +
            " Vpp, touch " + c[3] + ": resume with the same --waveform, --amplitude and --touch";
      return false;
    }
    if (started && std::fabs(hz - cur.hz) > 1e-9 * hz) {
      why = "line " + std::to_string(lineNo) + ": a point without its \"all\" row before it";
      return false;
    }
    cur.hz = hz;
    started = true;
    if (c[4] != "all") {
      ElectrodeNoise e;
      double snr = 0;
      ToDouble(c[5], e.stddev);
      ToDouble(c[6], e.p2p);
      if (ToDouble(c[7], snr)) e.snrDb = snr;
      cur.electrodes.push_back(e);
      continue;
    }
    if (static_cast<int>(cur.electrodes.size()) != layout.Size()) {
      why = "line " + std::to_string(lineNo) + ": " + std::to_string(cur.electrodes.size()) +
            " electrodes, the panel has " + std::to_string(layout.Size());
      return false;
    }
    double v = 0;
    if (ToDouble(c[8], v)) cur.ghosts = static_cast<int>(v);
    if (ToDouble(c[9], v)) cur.jitterMm = v;
    ToDouble(c[10], cur.rateHz);
    if (ToDouble(c[11], v)) cur.scans = static_cast<uint64_t>(v);
    each(cur);
    cur = NoisePoint{};
    started = false;
    end = offset;
  }
  if (lineNo == 0) {
    why = "is empty";
    return false;
  }
  return true;
}

}  // namespace analysis
