// Small inline SVG charts for the HTML report: bars (with an optional cumulative line),
// lines over a common x axis, and a strip of coloured cells.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace records {

class SvgChart {
 public:
  struct Bar {
    std::string label;
    double value = 0;
    std::string text;  // shown above the bar
  };
  // yMax 0: the largest value. cumulative: also a line of the running share (0..100 %).
  static std::string Bars(const std::vector<Bar>& bars, double yMax, const std::string& yUnit,
                          bool cumulative, const std::string& title);

  struct Series {
    std::string name;
    std::string colour;
    std::vector<std::optional<double>> y;  // one per x label; none: no point
  };
  static std::string Lines(const std::vector<std::string>& xLabels,
                           const std::vector<Series>& series, const std::string& yUnit,
                           const std::string& title);

  struct Cell {
    std::string label;
    double value = 0;
    std::string link;  // an address in the page the cell leads to ("" for none)
  };
  // One row of cells, white (0) to red (max).
  static std::string Strip(const std::vector<Cell>& cells, double max, const std::string& title);

  // Yields (%) on an axis from lo to hi (zoomed to the data), with a target line when given.
  static std::string YieldBars(const std::vector<Bar>& bars, double lo, double hi,
                               std::optional<double> target, const std::string& title);
  // A control chart of individual values: the reference's centre and 1, 2 and 3 sigma
  // lines, the reference points shaded, the points where a rule fired in red.
  static std::string Control(const std::vector<double>& values, size_t referenceCount,
                             double centre, double sigma, const std::vector<size_t>& marked,
                             const std::string& yUnit, const std::string& title);

  static std::string Escape(const std::string& text);
  static std::string Number(double v, int decimals);
};

}  // namespace records
