#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "cli/Subcommands.h"

namespace {

int RunInfo(const GlobalOptions& g, bool json) {
  int code = 0;
  auto s = Connect(g, code);
  if (!s) return code;
  if (!s->PanelReported())
    return Complain("the controller reported no panel information (" + s->LinkText() + ")");
  if (!s->VersionReported())
    return Complain("the controller reported no firmware version (" + s->LinkText() + ")");
  const PanelInfo p = s->Panel();
  if (json) {
    nlohmann::json j = {{"link", s->LinkText()},
                        {"device", DeviceJson(s->Device())},
                        {"firmware_version", s->Version()},
                        {"panel",
                         {{"x_count", p.xCount},
                          {"y_count", p.yCount},
                          {"resolution", p.resolution},
                          {"x_range", p.xRange},
                          {"y_range", p.yRange},
                          {"reported", s->PanelReported()}}}};
    std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  } else {
    std::cout << "link:       " << s->LinkText() << "\n";
    if (!s->Device().node.empty())
      std::cout << "device:     " << LinkDeviceText(s->Device()) << "\n";
    std::cout << "firmware:   " << s->Version() << "\n"
              << "panel:      " << p.xCount << " x " << p.yCount << " electrodes\n"
              << "resolution: " << p.resolution << "\n"
              << "range:      " << p.xRange << " x " << p.yRange << "\n";
  }
  return kExitPass;
}

}  // namespace

Subcommand AddInfoCommand(CLI::App& app, const GlobalOptions& g) {
  auto json = std::make_shared<bool>(false);
  auto* sub = app.add_subcommand("info", "link, firmware version, panel information");
  sub->add_flag("--json", *json, "as JSON");
  return {sub, [&g, json] { return RunInfo(g, *json); }};
}
