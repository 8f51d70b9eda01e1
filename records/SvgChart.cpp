#include "records/SvgChart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace records {

namespace {
constexpr int kWidth = 900, kHeight = 300;
constexpr int kLeft = 60, kRight = 20, kTop = 30, kBottom = 70;

std::string Head(int w, int h, const std::string& title) {
  std::ostringstream o;
  o << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << w << "\" height=\"" << h
    << "\" viewBox=\"0 0 " << w << " " << h << "\" role=\"img\"><title>"
    << SvgChart::Escape(title) << "</title>"
    << "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>";
  return o.str();
}

// A round step of about a fifth of the range.
double Step(double max) {
  if (max <= 0) return 1;
  const double raw = max / 5;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (raw <= m * p) return m * p;
  return 10 * p;
}

// Horizontal grid lines and their labels for y from lo to hi.
std::string Axis(double lo, double hi, const std::string& unit) {
  std::ostringstream o;
  const double plotH = kHeight - kTop - kBottom;
  const double step = Step(hi - lo);
  const int decimals = step < 1 ? (step < 0.1 ? 2 : 1) : 0;
  for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) {
    const double y = kTop + plotH - (v - lo) / (hi - lo) * plotH;
    o << "<line x1=\"" << kLeft << "\" x2=\"" << kWidth - kRight << "\" y1=\"" << y
      << "\" y2=\"" << y << "\" stroke=\"#ddd\"/>"
      << "<text x=\"" << kLeft - 6 << "\" y=\"" << y + 4
      << "\" text-anchor=\"end\" font-size=\"11\">" << SvgChart::Number(v, decimals) << "</text>";
  }
  o << "<text x=\"12\" y=\"" << kTop - 12 << "\" font-size=\"11\">" << SvgChart::Escape(unit)
    << "</text>";
  return o.str();
}

// "x,y" appended to an SVG point list.
void AddPoint(std::string& points, double x, double y) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s%.1f,%.1f", points.empty() ? "" : " ", x, y);
  points += buf;
}

// An x label, turned when labels are many.
std::string XLabel(double x, const std::string& label, size_t count) {
  std::ostringstream o;
  const double y = kHeight - kBottom + 14;
  if (count > 12)
    o << "<text x=\"" << x << "\" y=\"" << y << "\" font-size=\"10\" text-anchor=\"end\""
      << " transform=\"rotate(-45 " << x << " " << y << ")\">" << SvgChart::Escape(label)
      << "</text>";
  else
    o << "<text x=\"" << x << "\" y=\"" << y << "\" font-size=\"11\" text-anchor=\"middle\">"
      << SvgChart::Escape(label) << "</text>";
  return o.str();
}
}  // namespace

std::string SvgChart::Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        // Control characters have no place in the page.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\n' || c == '\t') out += c;
    }
  }
  return out;
}

std::string SvgChart::Number(double v, int decimals) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string SvgChart::Bars(const std::vector<Bar>& bars, double yMax, const std::string& yUnit,
                           bool cumulative, const std::string& title) {
  std::ostringstream o;
  o << Head(kWidth, kHeight, title);
  double max = yMax;
  double total = 0;
  for (const Bar& b : bars) {
    if (yMax <= 0) max = std::max(max, b.value);
    total += b.value;
  }
  if (max <= 0) max = 1;
  if (yMax <= 0) max = Step(max) * std::ceil(max / Step(max));
  o << Axis(0, max, yUnit);
  const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
  const double slot = bars.empty() ? plotW : plotW / static_cast<double>(bars.size());
  const double w = std::clamp(slot * 0.7, 1.0, 80.0);
  std::string line;
  double running = 0;
  for (size_t i = 0; i < bars.size(); ++i) {
    const Bar& b = bars[i];
    const double x = kLeft + slot * static_cast<double>(i) + (slot - w) / 2;
    const double h = std::clamp(b.value / max, 0.0, 1.0) * plotH;
    o << "<rect x=\"" << x << "\" y=\"" << kTop + plotH - h << "\" width=\"" << w
      << "\" height=\"" << h << "\" fill=\"#3b75af\"><title>" << Escape(b.label) << ": "
      << Escape(b.text) << "</title></rect>";
    if (bars.size() <= 40 && !b.text.empty())
      o << "<text x=\"" << x + w / 2 << "\" y=\"" << kTop + plotH - h - 4
        << "\" font-size=\"10\" text-anchor=\"middle\">" << Escape(b.text) << "</text>";
    const size_t every = std::max<size_t>(1, (bars.size() + 29) / 30);
    if (i % every == 0) o << XLabel(x + w / 2, b.label, std::min<size_t>(bars.size(), 30));
    running += b.value;
    if (cumulative && total > 0) AddPoint(line, x + w / 2, kTop + plotH - running / total * plotH);
  }
  if (cumulative && !line.empty()) {
    o << "<polyline points=\"" << line << "\" fill=\"none\" stroke=\"#d62728\" "
      << "stroke-width=\"2\"/><text x=\"" << kWidth - kRight << "\" y=\"" << kTop - 12
      << "\" font-size=\"11\" text-anchor=\"end\" fill=\"#d62728\">cumulative share (100 % at "
      << "the top)</text>";
  }
  o << "</svg>";
  return o.str();
}

std::string SvgChart::Lines(const std::vector<std::string>& xLabels,
                            const std::vector<Series>& series, const std::string& yUnit,
                            const std::string& title) {
  std::ostringstream o;
  o << Head(kWidth, kHeight, title);
  double lo = INFINITY, hi = -INFINITY;
  for (const Series& s : series)
    for (const auto& y : s.y)
      if (y) lo = std::min(lo, *y), hi = std::max(hi, *y);
  if (!std::isfinite(lo)) lo = 0, hi = 1;
  if (hi - lo < 1e-9) lo -= 1, hi += 1;
  const double pad = (hi - lo) * 0.05;
  lo -= pad;
  hi += pad;
  o << Axis(lo, hi, yUnit);
  const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
  const size_t n = xLabels.size();
  auto X = [&](size_t i) {
    return n <= 1 ? kLeft + plotW / 2 : kLeft + plotW * static_cast<double>(i) / double(n - 1);
  };
  const size_t every = std::max<size_t>(1, (n + 29) / 30);
  for (size_t i = 0; i < n; i += every) o << XLabel(X(i), xLabels[i], std::min<size_t>(n, 30));
  for (const Series& s : series) {
    std::string points;
    for (size_t i = 0; i < s.y.size() && i < n; ++i) {
      if (!s.y[i]) continue;
      AddPoint(points, X(i), kTop + plotH - (*s.y[i] - lo) / (hi - lo) * plotH);
    }
    if (points.empty()) continue;
    o << "<polyline points=\"" << points << "\" fill=\"none\" stroke=\"" << s.colour
      << "\" stroke-width=\"1.2\"><title>" << Escape(s.name) << "</title></polyline>";
    if (points.find(' ') == std::string::npos) {  // one day: a dot
      const size_t comma = points.find(',');
      o << "<circle cx=\"" << points.substr(0, comma) << "\" cy=\"" << points.substr(comma + 1)
        << "\" r=\"2.5\" fill=\"" << s.colour << "\"><title>" << Escape(s.name)
        << "</title></circle>";
    }
  }
  o << "</svg>";
  return o.str();
}

std::string SvgChart::Strip(const std::vector<Cell>& cells, double max, const std::string& title) {
  const int cell = 22, h = 58;
  const int w = std::max<int>(200, static_cast<int>(cells.size()) * cell + 2);
  std::ostringstream o;
  o << Head(w, h, title);
  for (size_t i = 0; i < cells.size(); ++i) {
    const double f = max > 0 ? std::clamp(cells[i].value / max, 0.0, 1.0) : 0;
    const int g = static_cast<int>(std::lround(255 * (1 - f)));
    char fill[16];
    std::snprintf(fill, sizeof fill, "#ff%02x%02x", g, g);
    const int x = 1 + static_cast<int>(i) * cell;
    if (!cells[i].link.empty()) o << "<a href=\"" << Escape(cells[i].link) << "\">";
    o << "<rect x=\"" << x << "\" y=\"1\" width=\"" << cell - 2 << "\" height=\"" << cell
      << "\" fill=\"" << fill << "\" stroke=\"#999\"><title>" << Escape(cells[i].label) << ": "
      << Number(cells[i].value, 0) << "</title></rect>";
    if (cells[i].value > 0)
      o << "<text x=\"" << x + (cell - 2) / 2 << "\" y=\"16\" font-size=\"9\" "
        << "text-anchor=\"middle\">" << Number(cells[i].value, 0) << "</text>";
    o << "<text x=\"" << x + (cell - 2) / 2 << "\" y=\"" << cell + 16
      << "\" font-size=\"9\" text-anchor=\"middle\">" << Escape(cells[i].label) << "</text>";
    if (!cells[i].link.empty()) o << "</a>";
  }
  o << "</svg>";
  return o.str();
}

std::string SvgChart::YieldBars(const std::vector<Bar>& bars, double lo, double hi,
                               std::optional<double> target, const std::string& title) {
  std::ostringstream o;
  o << Head(kWidth, kHeight, title);
  if (hi - lo < 1e-9) lo = hi - 1;
  o << Axis(lo, hi, "%");
  const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
  const double slot = bars.empty() ? plotW : plotW / static_cast<double>(bars.size());
  const double w = std::clamp(slot * 0.7, 1.0, 80.0);
  auto Y = [&](double v) { return kTop + plotH - std::clamp((v - lo) / (hi - lo), 0.0, 1.0) * plotH; };
  for (size_t i = 0; i < bars.size(); ++i) {
    const Bar& b = bars[i];
    const double x = kLeft + slot * static_cast<double>(i) + (slot - w) / 2;
    const bool below = target && b.value < *target;
    o << "<rect x=\"" << x << "\" y=\"" << Y(b.value) << "\" width=\"" << w << "\" height=\""
      << kTop + plotH - Y(b.value) << "\" fill=\"" << (below ? "#c8553d" : "#3b75af")
      << "\"><title>" << Escape(b.label) << ": " << Escape(b.text) << "</title></rect>";
    if (bars.size() <= 40 && !b.text.empty())
      o << "<text x=\"" << x + w / 2 << "\" y=\"" << Y(b.value) - 4
        << "\" font-size=\"10\" text-anchor=\"middle\">" << Escape(b.text) << "</text>";
    const size_t every = std::max<size_t>(1, (bars.size() + 29) / 30);
    if (i % every == 0) o << XLabel(x + w / 2, b.label, std::min<size_t>(bars.size(), 30));
  }
  if (target) {
    o << "<line x1=\"" << kLeft << "\" x2=\"" << kWidth - kRight << "\" y1=\"" << Y(*target)
      << "\" y2=\"" << Y(*target) << "\" stroke=\"#d62728\" stroke-width=\"2\" "
      << "stroke-dasharray=\"6 4\"/><text x=\"" << kWidth - kRight << "\" y=\"" << Y(*target) - 4
      << "\" font-size=\"11\" text-anchor=\"end\" fill=\"#d62728\">target " << Number(*target, 1)
      << " %</text>";
  }
  if (lo > 0)
    o << "<text x=\"" << kLeft << "\" y=\"" << kTop - 12 << "\" font-size=\"11\" fill=\"#a33\">"
      << "axis zoomed: " << Number(lo, 1) << " to " << Number(hi, 1) << " %</text>";
  o << "</svg>";
  return o.str();
}

std::string SvgChart::Control(const std::vector<double>& v, size_t referenceCount, double centre,
                              double sigma, const std::vector<size_t>& marked,
                              const std::string& yUnit, const std::string& title) {
  std::ostringstream o;
  o << Head(kWidth, kHeight, title);
  double lo = centre - 3.5 * sigma, hi = centre + 3.5 * sigma;
  for (double x : v) lo = std::min(lo, x), hi = std::max(hi, x);
  if (hi - lo < 1e-12) lo -= 1, hi += 1;
  o << Axis(lo, hi, yUnit);
  const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
  const size_t n = v.size();
  auto X = [&](size_t i) {
    return n <= 1 ? kLeft + plotW / 2 : kLeft + plotW * static_cast<double>(i) / double(n - 1);
  };
  auto Y = [&](double y) { return kTop + plotH - (y - lo) / (hi - lo) * plotH; };
  if (referenceCount > 0 && n > 1)
    o << "<rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << X(referenceCount - 1) - kLeft
      << "\" height=\"" << plotH << "\" fill=\"#eef3ea\"><title>reference</title></rect>";
  for (int k = -3; k <= 3; ++k) {
    const double y = Y(centre + k * sigma);
    o << "<line x1=\"" << kLeft << "\" x2=\"" << kWidth - kRight << "\" y1=\"" << y << "\" y2=\"" << y
      << "\" stroke=\"" << (k == 0 ? "#555" : std::abs(k) == 3 ? "#d62728" : "#bbb") << "\""
      << (k == 0 ? "" : " stroke-dasharray=\"4 3\"") << "/>";
    if (k != 0)
      o << "<text x=\"" << kWidth - kRight - 2 << "\" y=\"" << y - 2
        << "\" font-size=\"9\" text-anchor=\"end\" fill=\"#777\">" << (k > 0 ? "+" : "") << k
        << "σ</text>";
  }
  std::string points;
  for (size_t i = 0; i < n; ++i) AddPoint(points, X(i), Y(v[i]));
  o << "<polyline points=\"" << points << "\" fill=\"none\" stroke=\"#3b75af\" stroke-width=\"1\"/>";
  for (size_t i : marked)
    if (i < n)
      o << "<circle cx=\"" << X(i) << "\" cy=\"" << Y(v[i]) << "\" r=\"3.5\" fill=\"#d62728\"/>";
  for (size_t i = 0; i < n; i += std::max<size_t>(1, (n + 9) / 10))
    o << XLabel(X(i), std::to_string(i + 1), 10);
  o << "</svg>";
  return o.str();
}

}  // namespace records
