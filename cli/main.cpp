// vantrel: the command line for scripts and production lines.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <iostream>

#include "cli/GrrCommand.h"
#include "cli/Interrupt.h"
#include "cli/ResultsCommands.h"
#include "cli/Subcommands.h"

namespace {

// "227D:0102" (hexadecimal, 0x allowed) into the choice.
std::string ParseUsbIdentity(const std::string& text, LinkChoice& link) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return "must be VID:PID in hexadecimal, e.g. 227D:0102";
  auto part = [](std::string s, uint16_t& out) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = s.substr(2);
    if (s.empty() || s.size() > 4) return false;
    for (char c : s)
      if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    out = static_cast<uint16_t>(std::stoul(s, nullptr, 16));
    return out != 0;
  };
  uint16_t vid = 0, pid = 0;
  if (!part(text.substr(0, colon), vid) || !part(text.substr(colon + 1), pid))
    return "must be VID:PID, two non-zero hexadecimal numbers of up to 4 digits";
  link.usbVid = vid;
  link.usbPid = pid;
  return "";
}

// The global options of the link and the time-out, which may follow the subcommand too.
void AddLinkOptions(CLI::App& app, GlobalOptions& g, std::string& usb, uint32_t& baud,
                    uint16_t& iface, CLI::Option*& ifaceOpt) {
  app.add_option("--config", g.link.configPath,
                 "configuration file with the USB identities and the serial "
                 "line (default: ZUZIvor.ini beside the program, or "
                 "~/.config/vantrel/ZUZIvor.ini for an installed copy)");
  auto* usbOpt = app.add_option("--usb", usb, "open this USB identity instead, VID:PID in hex");
  auto* serialOpt = app.add_option("--serial", g.link.serialDevice,
                                   "open this serial device instead (e.g. /dev/ttyUSB0)");
  auto* baudOpt = app.add_option("--baud", baud, "baud rate of --serial (default: configured)")
                      ->check(CLI::Range(50u, 4000000u));
  auto* deviceOpt = app.add_option(
      "--device", g.link.device,
      "the USB controller to open when several match: its hidraw node (/dev/hidraw3), USB "
      "port path (1-2.3) or serial number, as vantrel list shows them");
  ifaceOpt = app.add_option("--interface", iface,
                            "USB interface of the controller's pipe (default: "
                            "configured, 1)")
                 ->check(CLI::Range(0, 255));
  usbOpt->excludes(serialOpt);
  deviceOpt->excludes(serialOpt);
  ifaceOpt->excludes(serialOpt);
  baudOpt->needs(serialOpt);
  app.add_option("--timeout", g.timeoutS, "seconds to wait for an answer or a scan (default 3)")
      ->check(CLI::Range(0.1, 3600.0));
}

// A parse error said: a word where the subcommand goes that is none is named, with what
// there is. The exit code.
int ParseFailed(CLI::App& app, const CLI::ParseError& e) {
  if (app.get_subcommands().empty() && !app.remaining().empty() &&
      app.remaining().front().rfind("-", 0) != 0) {
    std::string known;
    for (const CLI::App* sub : app.get_subcommands({}))
      known += (known.empty() ? "" : ", ") + sub->get_name();
    std::cerr << "vantrel: unknown subcommand \"" << app.remaining().front()
              << "\" (known: " << known << "; see vantrel --help)\n";
    return kExitCannotRun;
  }
  const int code = app.exit(e);
  return code == 0 ? kExitPass : kExitCannotRun;
}

bool Chosen(const Subcommand& s) {
  return s.chosen ? s.chosen() : s.app != nullptr && static_cast<bool>(*s.app);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");

  CLI::App app{
      "vantrel: command line for touch panel controllers: information, firmware commands, "
      "data capture, statistics and a self test against limits.\n"
      "Exit codes: 0 done / test passed, 1 test failed or negative reply, 2 could not run "
      "(no controller, no answer, bad input), 130 interrupted.",
      "vantrel"};
  app.set_version_flag("--version", std::string("vantrel ") + VANTREL_VERSION);
  app.require_subcommand(1);
  app.fallthrough();  // link options also after the subcommand (copied to subcommands)

  GlobalOptions g;
  std::string usb;
  uint32_t baud = 0;
  uint16_t iface = 1;
  CLI::Option* ifaceOpt = nullptr;
  AddLinkOptions(app, g, usb, baud, iface, ifaceOpt);

  std::vector<Subcommand> table = {
      AddListCommand(app, g),      AddHidCommand(app),          AddInfoCommand(app, g),
      AddSendCommand(app, g),      AddCaptureCommand(app, g),   AddStatsCommand(app, g),
      AddTestCommand(app, g),      AddLearnCommand(app, g),     AddCalibrateCommand(app, g),
      AddTouchCommand(app, g),     AddNoiseSweepCommand(app, g)};
  for (CLI::App* sub : app.get_subcommands({}))
    sub->footer("The link and time-out options (--config, --usb, --device, --interface, "
                "--serial, --baud, --timeout) may also follow the subcommand: see vantrel "
                "--help.");
  ResultsCommands results(app);
  GrrCommand grr(app);
  Subcommand resultsEntry{nullptr, [&results] { return results.Run(); }};
  resultsEntry.chosen = [&results] { return results.Chosen(); };
  Subcommand grrEntry{nullptr, [&grr, &g] { return grr.Run(g); }};
  grrEntry.chosen = [&grr] { return grr.Chosen(); };
  grrEntry.usesLink = [&grr] { return !grr.Offline(); };
  table.insert(table.begin(), {resultsEntry, grrEntry});

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return ParseFailed(app, e);
  }
  if (!usb.empty()) {
    const std::string error = ParseUsbIdentity(usb, g.link);
    if (!error.empty()) {
      std::cerr << "vantrel: --usb " << usb << ": " << error << "\n";
      return kExitCannotRun;
    }
  }
  if (baud) g.link.baud = baud;
  if (*ifaceOpt) g.link.iface = iface;
  const auto chosen = std::find_if(table.begin(), table.end(), Chosen);
  if (chosen == table.end()) return kExitCannotRun;
  if (const std::string bad = CheckLinkConfig(g.link); chosen->usesLink() && !bad.empty()) {
    std::cerr << "vantrel: " << bad << "\n";
    return kExitCannotRun;
  }
  InstallInterruptHandlers();
  return chosen->run();
}
