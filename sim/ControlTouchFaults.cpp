// Control commands for the panel's touch defects and its physical size.
#include <cmath>
#include <optional>
#include <string>

#include "sim/ControlInterpreter.h"

namespace tpcsim {

namespace {
std::optional<double> Number(const std::string& s, double lo, double hi) {
  const std::optional<double> v = ControlInterpreter::ParseNumber(s);
  if (!v || !(*v >= lo && *v <= hi)) return std::nullopt;
  return v;
}
}  // namespace

std::string ControlInterpreter::PanelMm(const std::vector<std::string>& a) {
  std::optional<double> w, h;
  if (a.size() == 3) {
    w = Number(a[1], 1, 10000);
    h = Number(a[2], 1, 10000);
  }
  if (!w || !h) return "error: usage: panel-mm <width> <height> (millimetres, 1 to 10000)";
  for (SimDevice* d : devices_) d->Controller().SetPanelMm(*w, *h);
  return "ok";
}

std::string ControlInterpreter::TouchFault(const std::vector<std::string>& a) {
  const char* usage =
      "error: usage: touch-fault noise <mm> | pincushion <mm> | offset <dx_mm> <dy_mm> | "
      "drop <n> [every] | ghost <n> | noise-ghost <n> | swap <a> <b> | merge <mm> | off";
  if (a.size() < 2) return usage;
  const std::string& kind = a[1];
  auto apply = [&](auto&& set) {
    for (SimDevice* d : devices_) {
      set(d->Controller().Defects().Settings());
      d->Controller().TouchDefectsChanged();
    }
    return std::string("ok");
  };
  if (kind == "off" && a.size() == 2)
    return apply([](TouchDefectSettings& s) { s = TouchDefectSettings{}; });
  if ((kind == "noise" || kind == "pincushion" || kind == "merge") && a.size() == 3) {
    auto mm = Number(a[2], 0, 1000);
    if (!mm) return "error: " + kind + ": millimetres 0 to 1000";
    return apply([&](TouchDefectSettings& s) {
      (kind == "noise" ? s.noiseMm : kind == "pincushion" ? s.pincushionMm : s.mergeMm) = *mm;
    });
  }
  if (kind == "offset" && a.size() == 4) {
    auto dx = Number(a[2], -1000, 1000), dy = Number(a[3], -1000, 1000);
    if (!dx || !dy) return "error: offset: millimetres -1000 to 1000";
    return apply([&](TouchDefectSettings& s) {
      s.offsetXMm = *dx;
      s.offsetYMm = *dy;
    });
  }
  if (kind == "drop" && (a.size() == 3 || a.size() == 4)) {
    auto n = Number(a[2], 0, 1000);
    auto every = a.size() == 4 ? Number(a[3], 1, 100000) : std::optional<double>(50);
    if (!n || !every || *n != std::floor(*n) || *every != std::floor(*every) || *n >= *every)
      return "error: drop: whole numbers, n below every";
    return apply([&](TouchDefectSettings& s) {
      s.dropCount = static_cast<int>(*n);
      s.dropEvery = static_cast<int>(*every);
    });
  }
  if ((kind == "ghost" || kind == "noise-ghost") && a.size() == 3) {
    auto n = Number(a[2], 0, 5);
    if (!n || *n != std::floor(*n)) return "error: " + kind + ": 0 to 5 contacts";
    return apply([&](TouchDefectSettings& s) {
      (kind == "ghost" ? s.ghosts : s.noiseGhosts) = static_cast<int>(*n);
    });
  }
  if (kind == "swap" && a.size() == 4) {
    auto f = Number(a[2], 0, TouchScript::kFingers - 1), g = Number(a[3], 0, TouchScript::kFingers - 1);
    if (!f || !g || *f == *g || *f != std::floor(*f) || *g != std::floor(*g))
      return "error: swap: two different fingers 0 to 9";
    return apply([&](TouchDefectSettings& s) {
      // A second swap of the same pair gives the ids back.
      const bool same = s.swapA == *f && s.swapB == *g;
      s.swapA = same ? -1 : static_cast<int>(*f);
      s.swapB = same ? -1 : static_cast<int>(*g);
    });
  }
  return usage;
}

}  // namespace tpcsim
