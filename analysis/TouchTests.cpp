#include "analysis/TouchTests.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace analysis {

namespace {

constexpr TouchTestInfo kTests[] = {
    {TouchTest::kGhost, "ghost", "Nothing on the glass for 10 s.", false, false, 10,
     "Switch the noise source on (a charger, a lamp or a noise generator by the panel), then "
     "press Enter."},
    {TouchTest::kRate, "rate",
     "Draw a few strokes over the glass, one finger, moving all the time; lift and wait when done.",
     false, true, 30, nullptr},
    {TouchTest::kJitter, "jitter", "Hold one finger still for 3 s, then lift it.", true, true, 3,
     nullptr},
    {TouchTest::kLinearity, "linearity",
     "Draw straight lines from edge to edge (across near each edge and from corner to corner); "
     "lift and wait when done.",
     true, true, 30, nullptr},
    {TouchTest::kAccuracy, "accuracy",
     "Touch the points of the true path (jig or robot); lift and wait when done.", true, true, 30,
     nullptr},
    {TouchTest::kContacts, "contacts",
     "Put five fingers or more on the glass and move them about without crossing; lift and "
     "wait when done.",
     false, true, 30, nullptr},
    {TouchTest::kSeparation, "separation",
     "Put two fingers down apart and slide them together until they touch; lift and wait when "
     "done.",
     true, true, 30, nullptr},
};

// Decimals a value is shown with (the verdict is that of the value measured).
int Decimals(const std::string& unit) {
  if (unit == "mm") return 2;
  if (unit == "Hz" || unit == "periods" || unit == "%" || unit == "ms") return 1;
  return 0;
}

std::string Text(double v, const std::string& unit) {
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", Decimals(unit), v);
  return unit.empty() ? std::string(b) : std::string(b) + " " + unit;
}

// A bound or a range as the touch reports show it: "<= 0.50 mm", ">= 100.0 Hz".
std::string LimitText(const std::optional<double>& min, const std::optional<double>& max,
                      const std::string& unit) {
  if (min && max) return Text(*min, "") + " .. " + Text(*max, unit);
  if (min) return ">= " + Text(*min, unit);
  if (max) return "<= " + Text(*max, unit);
  return "";
}

Check Make(TouchTest test, std::string subject, std::string check, double value,
           std::string unit, std::optional<double> min, std::optional<double> max) {
  const bool pass = !std::isnan(value) && (!min || value >= *min) && (!max || value <= *max);
  return Check{InfoOf(test).name, std::move(subject), std::move(check), value, Text(value, unit),
               unit, min, max, LimitText(min, max, unit), pass};
}

std::string Subject(const Stroke& s) {
  return "stroke " + std::to_string(s.index) + " (contact " + std::to_string(s.id) + ")";
}

struct MmPoint {
  double x, y;
};

std::vector<MmPoint> ToMm(const std::vector<StrokePoint>& points, const TouchGeometry& g) {
  std::vector<MmPoint> out;
  out.reserve(points.size());
  for (const StrokePoint& p : points) out.push_back({g.XMm(p.x), g.YMm(p.y)});
  return out;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const size_t i = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size()))) - 1;
  return v[std::min(i, v.size() - 1)];
}

}  // namespace

const TouchTestInfo* FindTouchTest(std::string_view name) {
  for (const TouchTestInfo& t : kTests)
    if (name == t.name) return &t;
  return nullptr;
}

const TouchTestInfo& InfoOf(TouchTest test) {
  for (const TouchTestInfo& t : kTests)
    if (t.test == test) return t;
  return kTests[0];
}

std::string TouchTestNames() {
  std::string out;
  for (const TouchTestInfo& t : kTests) out += (out.empty() ? "" : ", ") + std::string(t.name);
  return out;
}

// ---------------------------------------------------------------- figures

RateFigures StrokeRate(const std::vector<StrokePoint>& points) {
  RateFigures r;
  if (points.size() < 2) return r;
  std::vector<int64_t> dt;
  dt.reserve(points.size() - 1);
  for (size_t i = 1; i < points.size(); ++i) dt.push_back(points[i].us - points[i - 1].us);
  const int64_t span = points.back().us - points.front().us;
  if (span <= 0) return r;
  r.hz = static_cast<double>(points.size() - 1) * 1e6 / static_cast<double>(span);
  const int64_t longest = *std::max_element(dt.begin(), dt.end());
  std::nth_element(dt.begin(), dt.begin() + static_cast<long>(dt.size() / 2), dt.end());
  const int64_t median = dt[dt.size() / 2];
  r.gapMs = static_cast<double>(longest) / 1000.0;
  // Reports that come in bursts with equal times have a median interval of 0: the period
  // is then the mean interval.
  const double period = median > 0 ? static_cast<double>(median)
                                   : static_cast<double>(span) / static_cast<double>(dt.size());
  r.gapPeriods = static_cast<double>(longest) / period;
  return r;
}

double StrokeJitterMm(const std::vector<StrokePoint>& points, const TouchGeometry& g,
                      int64_t settleUs) {
  if (points.empty()) return 0;
  size_t first = 0, last = points.size();
  while (first < last && points[first].us < points.front().us + settleUs) ++first;
  while (last > first && points[last - 1].us > points.back().us - settleUs) --last;
  if (last - first < 2) {
    first = 0;
    last = points.size();
  }
  const auto at = [&](size_t i) { return points.begin() + static_cast<std::ptrdiff_t>(i); };
  return SpreadMm(at(first), at(last), g);
}

LinearityFigures StrokeLinearity(const std::vector<StrokePoint>& points, const TouchGeometry& g,
                                 double edgeMm) {
  LinearityFigures f;
  if (points.size() < 2) return f;
  const std::vector<MmPoint> mm = ToMm(points, g);
  double mx = 0, my = 0;
  for (const MmPoint& p : mm) {
    mx += p.x;
    my += p.y;
  }
  mx /= static_cast<double>(mm.size());
  my /= static_cast<double>(mm.size());
  double sxx = 0, syy = 0, sxy = 0;
  for (const MmPoint& p : mm) {
    sxx += (p.x - mx) * (p.x - mx);
    syy += (p.y - my) * (p.y - my);
    sxy += (p.x - mx) * (p.y - my);
  }
  // The fitted line runs along the principal axis of the points (orthogonal regression).
  const double a = 0.5 * std::atan2(2 * sxy, sxx - syy);
  const double dx = std::cos(a), dy = std::sin(a);
  double lo = 0, hi = 0;
  for (const MmPoint& p : mm) {
    const double along = (p.x - mx) * dx + (p.y - my) * dy;
    lo = std::min(lo, along);
    hi = std::max(hi, along);
    const double off = std::fabs(-(p.x - mx) * dy + (p.y - my) * dx);
    if (g.EdgeDistanceMm(p.x, p.y) < edgeMm)
      f.edgeMaxMm = std::max(f.edgeMaxMm, off);
    else
      f.maxMm = std::max(f.maxMm, off);
  }
  f.lengthMm = hi - lo;
  return f;
}

// ---------------------------------------------------------------- truth

void TouchTruth::Add(const TruthSample& s) {
  auto& v = byContact_[s.contact];
  auto at = std::upper_bound(v.begin(), v.end(), s.t,
                             [](double t, const TruthSample& e) { return t < e.t; });
  v.insert(at, s);
}

bool TouchTruth::Parse(std::string_view text, std::string& error) {
  byContact_.clear();
  std::istringstream in{std::string(text)};
  std::string line;
  int n = 0;
  bool header = false;
  while (std::getline(in, line)) {
    ++n;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (!header) {
      header = true;
      std::string h;
      for (char c : line)
        if (c != ' ') h += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (h != "time,contact,x_mm,y_mm") {
        error = "line " + std::to_string(n) + ": the header must be time,contact,x_mm,y_mm";
        return false;
      }
      continue;
    }
    double v[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
      const size_t end = i < 3 ? line.find(',', start) : line.size();
      std::string cell = line.substr(start, end == std::string::npos ? end : end - start);
      cell.erase(0, cell.find_first_not_of(' '));
      cell.erase(cell.find_last_not_of(' ') + 1);
      const char* b = cell.data();
      auto [p, ec] = std::from_chars(b, b + cell.size(), v[i]);
      if (end == std::string::npos || ec != std::errc() || p != b + cell.size() ||
          !std::isfinite(v[i])) {
        error = "line " + std::to_string(n) + ": four numbers expected: time,contact,x_mm,y_mm";
        return false;
      }
      start = end + 1;
    }
    if (v[1] < 0 || v[1] > 255 || v[1] != std::floor(v[1])) {
      error = "line " + std::to_string(n) + ": contact must be a whole number 0 to 255";
      return false;
    }
    Add(TruthSample{v[0], static_cast<int>(v[1]), v[2], v[3]});
  }
  if (byContact_.empty()) {
    error = "no true position in the file";
    return false;
  }
  return true;
}

std::optional<TruthSample> TouchTruth::At(int contact, double t, double slack) const {
  auto it = byContact_.find(contact);
  if (it == byContact_.end()) return std::nullopt;
  const auto& v = it->second;
  if (t < v.front().t - slack || t > v.back().t + slack) return std::nullopt;
  if (t <= v.front().t) return v.front();
  if (t >= v.back().t) return v.back();
  auto hi = std::upper_bound(v.begin(), v.end(), t,
                             [](double x, const TruthSample& e) { return x < e.t; });
  auto lo = hi - 1;
  const double span = hi->t - lo->t;
  const double w = span > 0 ? (t - lo->t) / span : 0;
  return TruthSample{t, contact, lo->xMm + w * (hi->xMm - lo->xMm),
                     lo->yMm + w * (hi->yMm - lo->yMm)};
}

// ---------------------------------------------------------------- tests

namespace {

bool Ghost(const TouchRun& run, std::vector<Check>& out) {
  const auto& strokes = run.strokes->Strokes();
  out.push_back(Make(TouchTest::kGhost, "window", "ghost contacts",
                     static_cast<double>(strokes.size()), "", std::nullopt, run.limits.ghostMax));
  for (const Stroke& s : strokes)
    out.push_back(Make(TouchTest::kGhost, Subject(s), "reports while untouched",
                       static_cast<double>(s.points.size()), "", std::nullopt, 0.0));
  if (run.raisedNoise)
    for (Check& c : out) c.group = kGhostNoiseSuite;
  return true;
}

bool Rate(const TouchRun& run, std::vector<Check>& out, std::string& why) {
  for (const Stroke& s : run.strokes->Strokes()) {
    if (s.points.size() < 3) continue;
    const RateFigures r = StrokeRate(s.points);
    out.push_back(Make(TouchTest::kRate, Subject(s), "rate", r.hz, "Hz", run.limits.rateMinHz,
                       std::nullopt));
    out.push_back(Make(TouchTest::kRate, Subject(s), "longest gap", r.gapPeriods, "periods",
                       std::nullopt, run.limits.gapMaxPeriods));
  }
  if (out.empty()) why = "no stroke of 3 reports or more";
  return !out.empty();
}

bool Jitter(const TouchRun& run, std::vector<Check>& out, std::string& why) {
  const auto settle = static_cast<int64_t>(run.limits.settleMs * 1000);
  for (const Stroke& s : run.strokes->Strokes()) {
    if (s.points.size() < 3 || s.points.back().us - s.points.front().us < 2 * settle + 300'000)
      continue;
    out.push_back(Make(TouchTest::kJitter, Subject(s), "jitter",
                       StrokeJitterMm(s.points, run.geometry, settle), "mm", std::nullopt,
                       run.limits.jitterMaxMm));
  }
  if (out.empty()) why = "no contact was held for more than " + Text(2 * run.limits.settleMs + 300, "ms");
  return !out.empty();
}

bool Linearity(const TouchRun& run, std::vector<Check>& out, std::string& why) {
  constexpr double kMinLengthMm = 20;
  for (const Stroke& s : run.strokes->Strokes()) {
    const LinearityFigures f = StrokeLinearity(s.points, run.geometry, run.limits.edgeMm);
    if (f.lengthMm < kMinLengthMm) continue;
    out.push_back(Make(TouchTest::kLinearity, Subject(s), "linearity", f.maxMm, "mm", std::nullopt,
                       run.limits.linearityMaxMm));
    if (f.edgeMaxMm >= 0)
      out.push_back(Make(TouchTest::kLinearity, Subject(s), "linearity at the edge", f.edgeMaxMm,
                         "mm", std::nullopt, run.limits.linearityEdgeMaxMm));
  }
  if (out.empty()) why = "no stroke of 20 mm or more";
  return !out.empty();
}

bool Accuracy(const TouchRun& run, std::vector<Check>& out, std::string& why) {
  if (run.truth == nullptr || run.truth->Empty()) {
    why = "accuracy needs the true positions (--truth FILE)";
    return false;
  }
  const TouchGeometry& g = run.geometry;
  const TouchLimits& l = run.limits;
  for (const Stroke& s : run.strokes->Strokes()) {
    std::vector<double> errors;
    int within = 0;
    for (const StrokePoint& p : s.points) {
      const double t = static_cast<double>(p.us - run.startUs) / 1e6;
      const auto truth = run.truth->At(s.id, t);
      if (!truth) continue;
      const double e = std::hypot(g.XMm(p.x) - truth->xMm, g.YMm(p.y) - truth->yMm);
      const bool edge = g.EdgeDistanceMm(truth->xMm, truth->yMm) < l.edgeMm;
      within += e <= (edge ? l.accuracyEdgeMaxMm : l.accuracyMaxMm) ? 1 : 0;
      errors.push_back(e);
    }
    if (errors.empty()) continue;
    out.push_back(Make(TouchTest::kAccuracy, Subject(s), "points within limit",
                       100.0 * within / static_cast<double>(errors.size()), "%",
                       l.accuracyPassPercent, std::nullopt));
    out.push_back(Make(TouchTest::kAccuracy, Subject(s), "error (95th percentile)",
                       Percentile(errors, 95), "mm", std::nullopt, l.accuracyEdgeMaxMm));
  }
  if (out.empty()) why = "no reported point matched a true position (same contact, same time)";
  return !out.empty();
}

bool Contacts(const TouchRun& run, std::vector<Check>& out) {
  out.push_back(Make(TouchTest::kContacts, "window", "simultaneous contacts",
                     run.strokes->MaxSimultaneous(), "", run.limits.contactsMin, std::nullopt));
  for (const Stroke& s : run.strokes->Strokes())
    out.push_back(Make(TouchTest::kContacts, Subject(s), "id swaps", s.idSwaps, "", std::nullopt,
                       run.limits.idSwapsMax));
  return true;
}

bool Separation(const TouchRun& run, std::vector<Check>& out, std::string& why) {
  const StrokeTracker& t = *run.strokes;
  if (t.ClosestPairMm() < 0) {
    why = "two contacts were never down at the same time";
    return false;
  }
  out.push_back(Make(TouchTest::kSeparation,
                     "contacts " + std::to_string(t.ClosestA()) + " and " +
                         std::to_string(t.ClosestB()),
                     "separation", std::max(0.0, t.ClosestPairMm() - run.limits.fingerMm), "mm",
                     std::nullopt, run.limits.separationMaxMm));
  return true;
}

}  // namespace

bool EvaluateTouch(TouchTest test, const TouchRun& run, std::vector<Check>& out,
                   std::string& notMeasured) {
  if (InfoOf(test).needsMm && !run.geometry.HasMm()) {
    notMeasured = "needs the panel size in millimetres ([panel] width_mm and height_mm in the "
                  "limits file) and the coordinate ranges";
    return false;
  }
  std::vector<Check> checks;
  bool ok = false;
  switch (test) {
    case TouchTest::kGhost: ok = Ghost(run, checks); break;
    case TouchTest::kRate: ok = Rate(run, checks, notMeasured); break;
    case TouchTest::kJitter: ok = Jitter(run, checks, notMeasured); break;
    case TouchTest::kLinearity: ok = Linearity(run, checks, notMeasured); break;
    case TouchTest::kAccuracy: ok = Accuracy(run, checks, notMeasured); break;
    case TouchTest::kContacts: ok = Contacts(run, checks); break;
    case TouchTest::kSeparation: ok = Separation(run, checks, notMeasured); break;
  }
  out.insert(out.end(), checks.begin(), checks.end());
  return ok;
}

}  // namespace analysis
