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
  };
  // One row of cells, white (0) to red (max).
  static std::string Strip(const std::vector<Cell>& cells, double max, const std::string& title);

  static std::string Escape(const std::string& text);
  static std::string Number(double v, int decimals);
};

}  // namespace records
