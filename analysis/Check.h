// One check of a run, the same from the measurement to every output (table, CSV, JUnit,
// JSON, the results store, the HTML report): what was checked, the measured value, the
// limits it was held to as numbers, its unit and its verdict.
#pragma once

#include <optional>
#include <string>

namespace analysis {

struct Check {
  std::string group;  // stream or test: "m0-raw", "panel", "jitter", "187.383 kHz"
  std::string item;   // electrode or stroke: "X5", "stroke 2 (contact 1)"; "" for the whole unit
  std::string check;  // "mean", "p2p", "open/short", "x_count", "version", "jitter"
  std::optional<double> value;  // measured
  // The value as shown where it is more than the number ("open (mean 12)", "0.42 mm") or
  // no number at all ("\"TPC 1.0\"", "not reported"); "" shows the number.
  std::string text;
  std::string unit;                 // "counts", "mm", "Hz"; "" for none
  std::optional<double> low, high;  // inclusive limits
  // The limit as shown where it is more than the bounds ("= 38", "<= 0.50 mm") or no
  // range at all ("matches \"TPC 1.*\""); "" shows the bounds.
  std::string limitText;
  bool pass = true;

  // "X5 mean", "x_count": the item and the check, parted by sep.
  std::string Title(const char* sep = " ") const;
  std::string Shown() const;  // "1012", "open (mean 12)", "\"TPC 1.0\""
  std::string Limit() const;  // "900 .. 1100", ">= 900", "<= 30", "matches \"TPC 1.*\""
  // As it is kept: the text only where there is no number, the limit text only where
  // there are no bounds.
  Check Kept() const;
};

// A number as the reports show it: whole numbers without decimals, others with up to 3.
std::string FormatNumber(double v);
// Bounds as the reports show them: "900 .. 1100", ">= 900", "<= 30" ("" for none).
std::string RangeText(const std::optional<double>& low, const std::optional<double>& high);

}  // namespace analysis
