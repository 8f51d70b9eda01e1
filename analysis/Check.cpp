#include "analysis/Check.h"

#include <cmath>
#include <cstdio>

namespace analysis {

std::string FormatNumber(double v) {
  if (std::isnan(v)) return "-";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  if (v == std::round(v) && std::fabs(v) < 1e15) {
    std::snprintf(buf, sizeof buf, "%.0f", v);
  } else {
    std::snprintf(buf, sizeof buf, "%.3f", v);
    std::string s(buf);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
  }
  return std::string(buf) == "-0" ? "0" : buf;
}

std::string RangeText(const std::optional<double>& lo, const std::optional<double>& hi) {
  if (lo && hi) return FormatNumber(*lo) + " .. " + FormatNumber(*hi);
  if (lo) return ">= " + FormatNumber(*lo);
  if (hi) return "<= " + FormatNumber(*hi);
  return "";
}

std::string Check::Title(const char* sep) const {
  return item.empty() ? check : item + sep + check;
}

std::string Check::Shown() const {
  if (!text.empty() || !value) return text;
  return FormatNumber(*value);
}

std::string Check::Limit() const {
  return limitText.empty() ? RangeText(low, high) : limitText;
}

Check Check::Kept() const {
  Check c = *this;
  if (c.value) c.text.clear();
  if (c.low || c.high) c.limitText.clear();
  return c;
}

}  // namespace analysis
