// The command lines of vantrel list and vantrel hid (their runs: HidCommands).
#include <CLI/CLI.hpp>
#include <memory>

#include "cli/HidCommands.h"
#include "cli/Subcommands.h"

Subcommand AddListCommand(CLI::App& app, const GlobalOptions& g) {
  auto* sub = app.add_subcommand("list",
                                 "controllers reachable now: HID devices whose reports "
                                 "the protocol can use (configured ones marked), serial "
                                 "ports; exit 1 when there is none");
  return {sub, [&g] { return RunList(g); }};
}

Subcommand AddHidCommand(CLI::App& app) {
  struct Options {
    std::string descriptorFile;
    bool json = false;
  };
  auto o = std::make_shared<Options>();
  auto* sub = app.add_subcommand("hid",
                                 "report descriptors: collections, report sizes, the pipe "
                                 "chosen or why refused, for a file or the hidraw devices "
                                 "present; exit 0 usable, 1 refused, 2 unreadable");
  sub->add_option("--descriptor", o->descriptorFile,
                  "descriptor file: binary (/sys/class/hidraw/hidrawN/device/"
                  "report_descriptor) or hexadecimal text; - for standard input");
  sub->add_flag("--json", o->json, "one JSON object per descriptor, one per line");
  Subcommand s{sub, [o] { return RunHid(o->descriptorFile, o->json); }};
  s.usesLink = [] { return false; };
  return s;
}
