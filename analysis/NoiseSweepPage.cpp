#include "analysis/NoiseSweepPage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>

namespace analysis {

namespace {

constexpr double kW = 900, kH = 220, kLeft = 60, kRight = 20, kTop = 28, kBottom = 34;
constexpr size_t kMapColumns = 400;  // the map's frequencies are binned to at most this many

std::string Esc(const std::string& t) {
  std::string o;
  for (char c : t) {
    switch (c) {
      case '&': o += "&amp;"; break;
      case '<': o += "&lt;"; break;
      case '>': o += "&gt;"; break;
      case '"': o += "&quot;"; break;
      default: o += c;
    }
  }
  return o;
}

std::string N(double v, int decimals = 1) {
  char b[32];
  std::snprintf(b, sizeof b, "%.*f", decimals, v);
  return b;
}

// Log frequency axis over the sweep.
struct Axis {
  double lo, hi;
  double X(double hz) const {
    const double span = std::log10(hi) - std::log10(lo);
    return kLeft + (kW - kLeft - kRight) * (span > 0 ? (std::log10(hz) - std::log10(lo)) / span : 0.5);
  }
};

Axis AxisOf(const std::vector<NoisePoint>& pts) {
  double lo = pts.front().hz, hi = pts.front().hz;
  for (const auto& p : pts) {
    lo = std::min(lo, p.hz);
    hi = std::max(hi, p.hz);
  }
  if (hi <= lo) {
    lo /= 1.5;
    hi *= 1.5;
  }
  return {lo, hi};
}

// The edges of a point on the axis: half way (geometrically) to its neighbours.
std::pair<double, double> Span(const std::vector<NoisePoint>& pts, size_t i, const Axis& a) {
  const double l = i > 0 ? std::sqrt(pts[i - 1].hz * pts[i].hz) : a.lo;
  const double r = i + 1 < pts.size() ? std::sqrt(pts[i].hz * pts[i + 1].hz) : a.hi;
  return {a.X(l), a.X(r)};
}

// One chart: a value per point (none: no point), an optional limit line, failing points'
// bands shaded.
std::string Chart(const std::string& title, const std::string& unit, const SweepPage& page,
                  const std::function<std::optional<double>(const NoisePoint&)>& value,
                  std::optional<double> limit, const std::string& id) {
  const auto& pts = page.points;
  const Axis ax = AxisOf(pts);
  double ymax = limit.value_or(0);
  double ymin = 0;
  for (const auto& p : pts)
    if (auto v = value(p)) {
      ymax = std::max(ymax, *v);
      ymin = std::min(ymin, *v);
    }
  if (ymax <= ymin) ymax = ymin + 1;
  ymax *= 1.1;
  const auto Y = [&](double v) { return kTop + (kH - kTop - kBottom) * (1 - (v - ymin) / (ymax - ymin)); };
  std::string s = "<svg id=\"" + id + "\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + N(kW, 0) +
                  "\" height=\"" + N(kH, 0) + "\" role=\"img\" aria-label=\"" + Esc(title) + "\">";
  s += "<text x=\"" + N(kLeft, 0) + "\" y=\"16\" class=\"t\">" + Esc(title) + "</text>";
  for (size_t i = 0; i < pts.size(); ++i) {
    if (page.pass[i]) continue;
    auto [l, r] = Span(pts, i, ax);
    s += "<rect class=\"band\" x=\"" + N(l) + "\" y=\"" + N(kTop) + "\" width=\"" +
         N(std::max(r - l, 1.0)) + "\" height=\"" + N(kH - kTop - kBottom) + "\"/>";
  }
  // Axes, decades and the value scale.
  s += "<line class=\"ax\" x1=\"" + N(kLeft) + "\" y1=\"" + N(kH - kBottom) + "\" x2=\"" +
       N(kW - kRight) + "\" y2=\"" + N(kH - kBottom) + "\"/>";
  s += "<line class=\"ax\" x1=\"" + N(kLeft) + "\" y1=\"" + N(kTop) + "\" x2=\"" + N(kLeft) +
       "\" y2=\"" + N(kH - kBottom) + "\"/>";
  for (double d = std::pow(10, std::floor(std::log10(ax.lo))); d <= ax.hi * 1.0001; d *= 10) {
    for (int m = 1; m < 10; ++m) {
      const double f = d * m;
      if (f < ax.lo * 0.9999 || f > ax.hi * 1.0001) continue;
      const double x = ax.X(f);
      s += "<line class=\"" + std::string(m == 1 ? "dec" : "sub") + "\" x1=\"" + N(x) + "\" y1=\"" +
           N(kTop) + "\" x2=\"" + N(x) + "\" y2=\"" + N(kH - kBottom) + "\"/>";
      if (m == 1)
        s += "<text x=\"" + N(x) + "\" y=\"" + N(kH - kBottom + 16) + "\" class=\"xl\">" +
             Esc(FrequencyText(f)) + "</text>";
    }
  }
  for (int k = 0; k <= 4; ++k) {
    const double v = ymin + (ymax - ymin) * k / 4;
    s += "<text x=\"" + N(kLeft - 6) + "\" y=\"" + N(Y(v) + 4) + "\" class=\"yl\">" + N(v, v < 10 ? 1 : 0) +
         "</text>";
  }
  if (limit)
    s += "<line class=\"limit\" x1=\"" + N(kLeft) + "\" y1=\"" + N(Y(*limit)) + "\" x2=\"" +
         N(kW - kRight) + "\" y2=\"" + N(Y(*limit)) + "\"><title>limit " + N(*limit, 2) + " " +
         Esc(unit) + "</title></line>";
  std::string path;
  for (const auto& p : pts) {
    auto v = value(p);
    if (!v) continue;
    path += (path.empty() ? "M" : " L") + N(ax.X(p.hz)) + " " + N(Y(*v));
  }
  if (!path.empty()) s += "<path class=\"line\" d=\"" + path + "\"/>";
  if (pts.size() <= 200)
    for (const auto& p : pts)
      if (auto v = value(p))
        s += "<circle class=\"dot\" cx=\"" + N(ax.X(p.hz)) + "\" cy=\"" + N(Y(*v)) +
             "\" r=\"2.5\"><title>" + Esc(FrequencyText(p.hz)) + ": " + N(*v, 2) + " " + Esc(unit) +
             "</title></circle>";
  s += "<text x=\"" + N(kLeft - 50) + "\" y=\"" + N(kTop - 6) + "\" class=\"u\">" + Esc(unit) + "</text>";
  return s + "</svg>\n";
}

// Electrodes (rows) by frequency (columns, binned): each cell its largest standard
// deviation, white to red.
std::string Map(const SweepPage& page) {
  const auto& pts = page.points;
  const int rows = page.layout.Size();
  const size_t cols = std::min(pts.size(), kMapColumns);
  double max = page.limits.stddevMax.value_or(0);
  for (const auto& p : pts) max = std::max(max, p.WorstStddev());
  if (max <= 0) max = 1;
  const double cellH = 8, left = 40, cellW = (kW - left - kRight) / static_cast<double>(cols);
  const double h = kTop + rows * cellH + 24;
  std::string s = "<svg id=\"electrode-map\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + N(kW, 0) +
                  "\" height=\"" + N(h, 0) + "\" role=\"img\" aria-label=\"noise per electrode and frequency\">";
  s += "<text x=\"" + N(left) + "\" y=\"16\" class=\"t\">Noise (standard deviation, counts) per "
       "electrode and frequency; white 0, red " + N(max, 1) + "</text>";
  for (size_t c = 0; c < cols; ++c) {
    const size_t from = c * pts.size() / cols, to = (c + 1) * pts.size() / cols;
    for (int r = 0; r < rows; ++r) {
      double v = 0;
      for (size_t i = from; i < to; ++i)
        if (r < static_cast<int>(pts[i].electrodes.size())) v = std::max(v, pts[i].electrodes[r].stddev);
      const int shade = 255 - static_cast<int>(std::clamp(v / max, 0.0, 1.0) * 255);
      char colour[16];
      std::snprintf(colour, sizeof colour, "#ff%02x%02x", shade, shade);
      s += "<rect x=\"" + N(left + c * cellW, 2) + "\" y=\"" + N(kTop + r * cellH) + "\" width=\"" +
           N(cellW + 0.05, 2) + "\" height=\"" + N(cellH) + "\" fill=\"" + colour + "\"><title>" +
           Esc(page.layout.Name(r)) + ", " + Esc(FrequencyText(pts[from].hz)) +
           (to - from > 1 ? " to " + Esc(FrequencyText(pts[to - 1].hz)) : "") + ": " + N(v, 2) +
           "</title></rect>";
    }
  }
  for (int r = 0; r < rows; r += 2)
    s += "<text x=\"" + N(left - 4) + "\" y=\"" + N(kTop + r * cellH + 7) + "\" class=\"ml\">" +
         Esc(page.layout.Name(r)) + "</text>";
  s += "<text x=\"" + N(left) + "\" y=\"" + N(h - 6) + "\" class=\"xl0\">" + Esc(FrequencyText(pts.front().hz)) +
       "</text><text x=\"" + N(kW - kRight) + "\" y=\"" + N(h - 6) + "\" class=\"xl1\">" +
       Esc(FrequencyText(pts.back().hz)) + "</text>";
  return s + "</svg>\n";
}

std::string Opt(const std::optional<double>& v, int decimals) {
  return v ? N(*v, decimals) : "";
}

}  // namespace

std::vector<std::pair<double, double>> FailingBands(const std::vector<NoisePoint>& points,
                                                    const std::vector<bool>& pass) {
  std::vector<std::pair<double, double>> out;
  for (size_t i = 0; i < points.size(); ++i) {
    if (pass[i]) continue;
    if (i > 0 && !pass[i - 1])
      out.back().second = points[i].hz;
    else
      out.emplace_back(points[i].hz, points[i].hz);
  }
  return out;
}

std::string NoiseSweepHtml(const SweepPage& page) {
  std::string h =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<title>Noise immunity sweep</title><style>"
      "body{font:14px sans-serif;margin:24px;color:#222}"
      "table{border-collapse:collapse;margin:8px 0 20px}td,th{border:1px solid #ccc;padding:2px 8px;"
      "text-align:right}th{background:#eee}td.l,th.l{text-align:left}"
      ".fail{color:#b00;font-weight:bold}.pass{color:#070;font-weight:bold}"
      "svg{display:block;margin:8px 0 16px}.t{font:bold 13px sans-serif}"
      ".band{fill:#f4b4b4;opacity:.6}.ax{stroke:#444}.dec{stroke:#bbb}.sub{stroke:#eee}"
      ".limit{stroke:#c00;stroke-dasharray:6 4}.line{fill:none;stroke:#1f5fbf;stroke-width:1.6}"
      ".dot{fill:#1f5fbf}.xl{font:11px sans-serif;text-anchor:middle}.yl{font:11px sans-serif;"
      "text-anchor:end}.u{font:11px sans-serif}.ml{font:8px sans-serif;text-anchor:end}"
      ".xl0{font:11px sans-serif}.xl1{font:11px sans-serif;text-anchor:end}"
      "</style></head><body>\n<h1>Noise immunity sweep</h1>\n";
  const std::string cls = page.verdict == "PASS" ? "pass" : "fail";
  h += "<p>Verdict: <span id=\"verdict\" class=\"" + cls + "\">" + Esc(page.verdict) + "</span></p>\n";
  h += "<table id=\"facts\">";
  for (const auto& [k, v] : page.facts)
    h += "<tr><th class=\"l\">" + Esc(k) + "</th><td class=\"l\">" + Esc(v) + "</td></tr>";
  h += "</table>\n";
  if (page.points.empty()) return h + "<p>No frequency was measured.</p></body></html>\n";

  const auto bands = FailingBands(page.points, page.pass);
  h += "<h2>Failing bands</h2>\n<ul id=\"failing-bands\">";
  for (const auto& [a, b] : bands)
    h += "<li>" + Esc(FrequencyText(a)) + (b > a ? " to " + Esc(FrequencyText(b)) : "") + "</li>";
  if (bands.empty()) h += "<li>none</li>";
  h += "</ul>\n";

  h += Chart("Noise: largest standard deviation of any electrode", "counts", page,
             [](const NoisePoint& p) { return std::optional<double>(p.WorstStddev()); },
             page.limits.stddevMax, "chart-noise");
  h += Chart("Noise: largest peak-to-peak of any electrode", "counts", page,
             [](const NoisePoint& p) { return std::optional<double>(p.WorstP2p()); },
             page.limits.p2pMax, "chart-p2p");
  if (page.held) {
    h += Chart("Signal-to-noise ratio: lowest of the touched electrodes", "dB", page,
               [](const NoisePoint& p) { return p.WorstSnrDb(); }, page.limits.snrMinDb, "chart-snr");
    h += Chart("Jitter of the held finger", "mm", page,
               [](const NoisePoint& p) { return p.jitterMm; }, page.limits.jitterMaxMm, "chart-jitter");
  }
  h += Chart("Ghost contacts", "contacts", page,
             [](const NoisePoint& p) { return std::optional<double>(p.ghosts); },
             page.limits.ghostMax, "chart-ghosts");
  h += Map(page);

  h += "<h2>Every frequency</h2>\n<table id=\"points\"><tr><th>frequency</th><th>noise (stddev)</th>"
       "<th>p2p</th><th>SNR dB</th><th>ghosts</th><th>jitter mm</th><th>rate Hz</th><th>scans</th>"
       "<th>verdict</th></tr>\n";
  for (size_t i = 0; i < page.points.size(); ++i) {
    const NoisePoint& p = page.points[i];
    h += "<tr><td>" + Esc(FrequencyText(p.hz)) + "</td><td>" + N(p.WorstStddev(), 2) + "</td><td>" +
         N(p.WorstP2p(), 0) + "</td><td>" + Opt(p.WorstSnrDb(), 1) + "</td><td>" +
         std::to_string(p.ghosts) + "</td><td>" + Opt(p.jitterMm, 2) + "</td><td>" + N(p.rateHz, 0) +
         "</td><td>" + std::to_string(p.scans) + "</td><td class=\"" +
         (page.pass[i] ? "pass\">pass" : "fail\">fail") + "</td></tr>\n";
  }
  h += "</table>\n<h2>Noise per electrode (standard deviation, counts)</h2>\n"
       "<table id=\"electrodes\"><tr><th>frequency</th>";
  for (int e = 0; e < page.layout.Size(); ++e) h += "<th>" + Esc(page.layout.Name(e)) + "</th>";
  h += "</tr>\n";
  for (const NoisePoint& p : page.points) {
    h += "<tr><td>" + Esc(FrequencyText(p.hz)) + "</td>";
    for (const auto& e : p.electrodes) h += "<td>" + N(e.stddev, 2) + "</td>";
    h += "</tr>\n";
  }
  return h + "</table>\n</body></html>\n";
}

}  // namespace analysis
