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

std::string Opt(const std::optional<double>& v, int decimals) {
  return v ? N(*v, decimals) : "";
}

// Log frequency axis over the sweep.
struct Axis {
  double lo = 0, hi = 0;
  double X(double hz) const {
    const double span = std::log10(hi) - std::log10(lo);
    return kLeft + (kW - kLeft - kRight) * (span > 0 ? (std::log10(hz) - std::log10(lo)) / span : 0.5);
  }
};

using Value = std::function<std::optional<double>(const NoisePoint&)>;

// Writes the page's parts, reading the points once per pass.
class PageWriter {
 public:
  PageWriter(std::ostream& o, const SweepPage& page) : o_(o), page_(page) {}

  bool Ok() const { return ok_; }
  void Each(const std::function<void(const NoisePoint&, bool)>& fn) {
    ok_ = page_.points->ForEach(fn) && ok_;
  }

  void FindAxis() {
    bool first = true;
    Each([&](const NoisePoint& p, bool) {
      if (first) firstHz_ = p.hz;
      lastHz_ = p.hz;
      ax_.lo = first ? p.hz : std::min(ax_.lo, p.hz);
      ax_.hi = first ? p.hz : std::max(ax_.hi, p.hz);
      first = false;
    });
    if (ax_.hi <= ax_.lo) {
      ax_.lo /= 1.5;
      ax_.hi *= 1.5;
    }
  }

  // One chart: a value per point (none: no point), an optional limit line, failing points'
  // bands shaded.
  void Chart(const std::string& title, const std::string& unit, const Value& value,
             std::optional<double> limit, const std::string& id) {
    double ymax = limit.value_or(0);
    double ymin = 0;
    bool any = false;
    Each([&](const NoisePoint& p, bool) {
      if (auto v = value(p)) {
        ymax = std::max(ymax, *v);
        ymin = std::min(ymin, *v);
        any = true;
      }
    });
    if (ymax <= ymin) ymax = ymin + 1;
    ymax *= 1.1;
    const auto Y = [&](double v) { return kTop + (kH - kTop - kBottom) * (1 - (v - ymin) / (ymax - ymin)); };
    o_ << "<svg id=\"" << id << "\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << N(kW, 0)
       << "\" height=\"" << N(kH, 0) << "\" role=\"img\" aria-label=\"" << Esc(title) << "\">";
    o_ << "<text x=\"" << N(kLeft, 0) << "\" y=\"16\" class=\"t\">" << Esc(title) << "</text>";
    Bands();
    Frame(Y, ymin, ymax);
    if (limit)
      o_ << "<line class=\"limit\" x1=\"" << N(kLeft) << "\" y1=\"" << N(Y(*limit)) << "\" x2=\""
         << N(kW - kRight) << "\" y2=\"" << N(Y(*limit)) << "\"><title>limit " << N(*limit, 2)
         << " " << Esc(unit) << "</title></line>";
    if (any) {
      o_ << "<path class=\"line\" d=\"";
      bool first = true;
      Each([&](const NoisePoint& p, bool) {
        auto v = value(p);
        if (!v) return;
        o_ << (first ? "M" : " L") << N(ax_.X(p.hz)) << " " << N(Y(*v));
        first = false;
      });
      o_ << "\"/>";
    }
    if (page_.points->Size() <= 200)
      Each([&](const NoisePoint& p, bool) {
        if (auto v = value(p))
          o_ << "<circle class=\"dot\" cx=\"" << N(ax_.X(p.hz)) << "\" cy=\"" << N(Y(*v))
             << "\" r=\"2.5\"><title>" << Esc(FrequencyText(p.hz)) << ": " << N(*v, 2) << " "
             << Esc(unit) << "</title></circle>";
      });
    o_ << "<text x=\"" << N(kLeft - 50) << "\" y=\"" << N(kTop - 6) << "\" class=\"u\">"
       << Esc(unit) << "</text>";
    o_ << "</svg>\n";
  }

  // Electrodes (rows) by frequency (columns, binned): each cell its largest standard
  // deviation, white to red.
  void Map() {
    const size_t count = page_.points->Size();
    const int rows = page_.layout.Size();
    const size_t cols = std::min(count, kMapColumns);
    double max = page_.limits.stddevMax.value_or(0);
    Each([&](const NoisePoint& p, bool) { max = std::max(max, p.WorstStddev()); });
    if (max <= 0) max = 1;
    const double cellH = 8, left = 40, cellW = (kW - left - kRight) / static_cast<double>(cols);
    const double h = kTop + rows * cellH + 24;
    o_ << "<svg id=\"electrode-map\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << N(kW, 0)
       << "\" height=\"" << N(h, 0)
       << "\" role=\"img\" aria-label=\"noise per electrode and frequency\">";
    o_ << "<text x=\"" << N(left) << "\" y=\"16\" class=\"t\">Noise (standard deviation, counts) per "
          "electrode and frequency; white 0, red " << N(max, 1) << "</text>";
    // Column c holds the points from c * count / cols up to (c + 1) * count / cols.
    std::vector<double> worst(static_cast<size_t>(rows), 0);
    size_t i = 0, c = 0, from = 0;
    double firstHz = 0;
    Each([&](const NoisePoint& p, bool) {
      if (i == from) firstHz = p.hz;
      for (int r = 0; r < rows; ++r)
        if (r < static_cast<int>(p.electrodes.size()))
          worst[r] = std::max(worst[r], p.electrodes[r].stddev);
      const size_t to = (c + 1) * count / cols;
      if (++i < to) return;
      for (int r = 0; r < rows; ++r) {
        const int shade = 255 - static_cast<int>(std::clamp(worst[r] / max, 0.0, 1.0) * 255);
        char colour[16];
        std::snprintf(colour, sizeof colour, "#ff%02x%02x", shade, shade);
        o_ << "<rect x=\"" << N(left + c * cellW, 2) << "\" y=\"" << N(kTop + r * cellH)
           << "\" width=\"" << N(cellW + 0.05, 2) << "\" height=\"" << N(cellH) << "\" fill=\""
           << colour << "\"><title>" << Esc(page_.layout.Name(r)) << ", "
           << Esc(FrequencyText(firstHz))
           << (to - from > 1 ? " to " + Esc(FrequencyText(p.hz)) : "") << ": " << N(worst[r], 2)
           << "</title></rect>";
        worst[r] = 0;
      }
      ++c;
      from = to;
    });
    for (int r = 0; r < rows; r += 2)
      o_ << "<text x=\"" << N(left - 4) << "\" y=\"" << N(kTop + r * cellH + 7) << "\" class=\"ml\">"
         << Esc(page_.layout.Name(r)) << "</text>";
    o_ << "<text x=\"" << N(left) << "\" y=\"" << N(h - 6) << "\" class=\"xl0\">"
       << Esc(FrequencyText(firstHz_)) << "</text><text x=\"" << N(kW - kRight) << "\" y=\""
       << N(h - 6) << "\" class=\"xl1\">" << Esc(FrequencyText(lastHz_)) << "</text>";
    o_ << "</svg>\n";
  }

  // Every frequency's figures, and every electrode's noise at each.
  void Tables() {
    o_ << "<h2>Every frequency</h2>\n<table id=\"points\"><tr><th>frequency</th><th>noise (stddev)</th>"
          "<th>p2p</th><th>SNR dB</th><th>ghosts</th><th>jitter mm</th><th>rate Hz</th><th>scans</th>"
          "<th>verdict</th></tr>\n";
    Each([&](const NoisePoint& p, bool pass) {
      o_ << "<tr><td>" << Esc(FrequencyText(p.hz)) << "</td><td>" << N(p.WorstStddev(), 2)
         << "</td><td>" << N(p.WorstP2p(), 0) << "</td><td>" << Opt(p.WorstSnrDb(), 1)
         << "</td><td>" << p.ghosts << "</td><td>" << Opt(p.jitterMm, 2) << "</td><td>"
         << N(p.rateHz, 0) << "</td><td>" << p.scans << "</td><td class=\""
         << (pass ? "pass\">pass" : "fail\">fail") << "</td></tr>\n";
    });
    o_ << "</table>\n<h2>Noise per electrode (standard deviation, counts)</h2>\n"
          "<table id=\"electrodes\"><tr><th>frequency</th>";
    for (int e = 0; e < page_.layout.Size(); ++e) o_ << "<th>" << Esc(page_.layout.Name(e)) << "</th>";
    o_ << "</tr>\n";
    Each([&](const NoisePoint& p, bool) {
      o_ << "<tr><td>" << Esc(FrequencyText(p.hz)) << "</td>";
      for (const auto& e : p.electrodes) o_ << "<td>" << N(e.stddev, 2) << "</td>";
      o_ << "</tr>\n";
    });
    o_ << "</table>\n</body></html>\n";
  }

 private:
  // Each failing point shaded from half way (geometrically) to its neighbours.
  void Bands() {
    std::optional<double> prev, cur;
    bool curPass = true;
    auto shade = [&](std::optional<double> next) {
      if (!cur || curPass) return;
      const double l = ax_.X(prev ? std::sqrt(*prev * *cur) : ax_.lo);
      const double r = ax_.X(next ? std::sqrt(*cur * *next) : ax_.hi);
      o_ << "<rect class=\"band\" x=\"" << N(l) << "\" y=\"" << N(kTop) << "\" width=\""
         << N(std::max(r - l, 1.0)) << "\" height=\"" << N(kH - kTop - kBottom) << "\"/>";
    };
    Each([&](const NoisePoint& p, bool pass) {
      shade(p.hz);
      prev = cur;
      cur = p.hz;
      curPass = pass;
    });
    shade(std::nullopt);
  }

  // Axes, decades and the value scale.
  void Frame(const std::function<double(double)>& Y, double ymin, double ymax) {
    o_ << "<line class=\"ax\" x1=\"" << N(kLeft) << "\" y1=\"" << N(kH - kBottom) << "\" x2=\""
       << N(kW - kRight) << "\" y2=\"" << N(kH - kBottom) << "\"/>";
    o_ << "<line class=\"ax\" x1=\"" << N(kLeft) << "\" y1=\"" << N(kTop) << "\" x2=\"" << N(kLeft)
       << "\" y2=\"" << N(kH - kBottom) << "\"/>";
    for (double d = std::pow(10, std::floor(std::log10(ax_.lo))); d <= ax_.hi * 1.0001; d *= 10) {
      for (int m = 1; m < 10; ++m) {
        const double f = d * m;
        if (f < ax_.lo * 0.9999 || f > ax_.hi * 1.0001) continue;
        const double x = ax_.X(f);
        o_ << "<line class=\"" << (m == 1 ? "dec" : "sub") << "\" x1=\"" << N(x) << "\" y1=\""
           << N(kTop) << "\" x2=\"" << N(x) << "\" y2=\"" << N(kH - kBottom) << "\"/>";
        if (m == 1)
          o_ << "<text x=\"" << N(x) << "\" y=\"" << N(kH - kBottom + 16) << "\" class=\"xl\">"
             << Esc(FrequencyText(f)) << "</text>";
      }
    }
    for (int k = 0; k <= 4; ++k) {
      const double v = ymin + (ymax - ymin) * k / 4;
      o_ << "<text x=\"" << N(kLeft - 6) << "\" y=\"" << N(Y(v) + 4) << "\" class=\"yl\">"
         << N(v, v < 10 ? 1 : 0) << "</text>";
    }
  }

  std::ostream& o_;
  const SweepPage& page_;
  Axis ax_;
  double firstHz_ = 0, lastHz_ = 0;
  bool ok_ = true;
};

}  // namespace

std::vector<std::pair<double, double>> FailingBands(const SweepPoints& points) {
  std::vector<std::pair<double, double>> out;
  bool lastPass = true;
  points.ForEach([&](const NoisePoint& p, bool pass) {
    if (!pass && !lastPass)
      out.back().second = p.hz;
    else if (!pass)
      out.emplace_back(p.hz, p.hz);
    lastPass = pass;
  });
  return out;
}

bool WriteNoiseSweepHtml(std::ostream& h, const SweepPage& page) {
  h <<
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
  h << "<p>Verdict: <span id=\"verdict\" class=\"" << cls << "\">" << Esc(page.verdict)
    << "</span></p>\n";
  h << "<table id=\"facts\">";
  for (const auto& [k, v] : page.facts)
    h << "<tr><th class=\"l\">" << Esc(k) << "</th><td class=\"l\">" << Esc(v) << "</td></tr>";
  h << "</table>\n";
  if (page.points->Size() == 0) {
    h << "<p>No frequency was measured.</p></body></html>\n";
    return true;
  }

  const auto bands = FailingBands(*page.points);
  h << "<h2>Failing bands</h2>\n<ul id=\"failing-bands\">";
  for (const auto& [a, b] : bands)
    h << "<li>" << Esc(FrequencyText(a)) << (b > a ? " to " + Esc(FrequencyText(b)) : "") << "</li>";
  if (bands.empty()) h << "<li>none</li>";
  h << "</ul>\n";

  PageWriter w(h, page);
  w.FindAxis();

  w.Chart("Noise: largest standard deviation of any electrode", "counts",
             [](const NoisePoint& p) { return std::optional<double>(p.WorstStddev()); },
             page.limits.stddevMax, "chart-noise");
  w.Chart("Noise: largest peak-to-peak of any electrode", "counts",
             [](const NoisePoint& p) { return std::optional<double>(p.WorstP2p()); },
             page.limits.p2pMax, "chart-p2p");
  if (page.held) {
    w.Chart("Signal-to-noise ratio: lowest of the touched electrodes", "dB",
               [](const NoisePoint& p) { return p.WorstSnrDb(); }, page.limits.snrMinDb, "chart-snr");
    w.Chart("Jitter of the held finger", "mm",
               [](const NoisePoint& p) { return p.jitterMm; }, page.limits.jitterMaxMm, "chart-jitter");
  }
  w.Chart("Ghost contacts", "contacts",
             [](const NoisePoint& p) { return std::optional<double>(p.ghosts); },
             page.limits.ghostMax, "chart-ghosts");
  w.Map();

  w.Tables();
  return w.Ok();
}

}  // namespace analysis
