// vantrel: the command line for scripts and production lines.
#include <CLI/CLI.hpp>
#include <clocale>
#include <cstdio>
#include <iostream>

#include "cli/CaptureConvert.h"
#include "cli/Commands.h"
#include "cli/GrrCommand.h"
#include "cli/HidCommands.h"
#include "cli/Interrupt.h"
#include "cli/NoiseSweepCommand.h"
#include "cli/ResultsCommands.h"
#include "cli/TouchCommands.h"

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

constexpr const char* kStreamHelp =
    "data stream: m0-raw, m0-offset, m0-signal, m1x-raw, m1x-offset, m1x-signal, m1y-raw, "
    "m1y-offset, m1y-signal, open-short (X then Y), open-short-x, open-short-y";

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
  auto* config = app.add_option("--config", g.link.configPath,
                                "configuration file with the USB identities and the serial "
                                "line (default: ZUZIvor.ini beside the program, or "
                                "~/.config/vantrel/ZUZIvor.ini for an installed copy)");
  auto* usbOpt = app.add_option("--usb", usb, "open this USB identity instead, VID:PID in hex");
  auto* serialOpt = app.add_option("--serial", g.link.serialDevice,
                                   "open this serial device instead (e.g. /dev/ttyUSB0)");
  uint32_t baud = 0;
  auto* baudOpt = app.add_option("--baud", baud, "baud rate of --serial (default: configured)")
                      ->check(CLI::Range(50u, 4000000u));
  auto* deviceOpt = app.add_option(
      "--device", g.link.device,
      "the USB controller to open when several match: its hidraw node (/dev/hidraw3), USB "
      "port path (1-2.3) or serial number, as vantrel list shows them");
  uint16_t iface = 1;
  auto* ifaceOpt = app.add_option("--interface", iface,
                                  "USB interface of the controller's pipe (default: "
                                  "configured, 1)")
                       ->check(CLI::Range(0, 255));
  usbOpt->excludes(serialOpt);
  deviceOpt->excludes(serialOpt);
  ifaceOpt->excludes(serialOpt);
  baudOpt->needs(serialOpt);
  app.add_option("--timeout", g.timeoutS, "seconds to wait for an answer or a scan (default 3)")
      ->check(CLI::Range(0.1, 3600.0));
  (void)config;


  auto* list = app.add_subcommand("list",
                                  "controllers reachable now: HID devices whose reports "
                                  "the protocol can use (configured ones marked), serial "
                                  "ports; exit 1 when there is none");
  std::string descriptorFile;
  auto* hid = app.add_subcommand("hid",
                                 "report descriptors: collections, report sizes, the pipe "
                                 "chosen or why refused, for a file or the hidraw devices "
                                 "present; exit 0 usable, 1 refused, 2 unreadable");
  hid->add_option("--descriptor", descriptorFile,
                  "descriptor file: binary (/sys/class/hidraw/hidrawN/device/"
                  "report_descriptor) or hexadecimal text; - for standard input");
  bool hidJson = false;
  hid->add_flag("--json", hidJson, "one JSON object per descriptor, one per line");
  bool json = false, raw = false;
  auto* info = app.add_subcommand("info", "link, firmware version, panel information");
  info->add_flag("--json", json, "as JSON");

  std::string cmd;
  auto* send = app.add_subcommand("send", "send one command string, print the reply");
  send->add_option("command", cmd, "command string, e.g. \"SEND 024C020400 \"")->required();
  send->add_flag("--raw", raw, "also print the reply's bytes in hex");

  std::string stream, csv, record;
  int scans = 50;
  auto* capture = app.add_subcommand("capture",
                                     "N complete scans of a stream as CSV (one row "
                                     "per scan, one column per electrode)");
  // Not marked required: "convert" below would be taken for it.
  capture->add_option("stream", stream, std::string(kStreamHelp) + " (required)");
  capture->add_option("--scans", scans, "complete scans (default 50)")
      ->check(CLI::Range(1, 10000000));
  capture->add_option("--csv", csv, "CSV file (default: standard output)");
  capture->add_option("--record", record,
                      "also record the whole session as a capture file (a name ending in "
                      ".zst is compressed); without --csv no CSV is written");
  ConvertArgs convertArgs;
  auto* convert = AddCaptureConvert(*capture, convertArgs);

  auto* stats = app.add_subcommand("stats",
                                   "per-electrode statistics of N scans: min, max, "
                                   "mean, stddev, p2p (SNR for signal data, open/short "
                                   "state)");
  stats->add_option("stream", stream, kStreamHelp)->required();
  stats->add_option("--scans", scans, "complete scans (default 50)")
      ->check(CLI::Range(1, 10000000));
  auto* statsJson = stats->add_flag("--json", json, "as JSON on standard output");
  stats->add_option("--csv", csv, "write the table as CSV to this file")->excludes(statsJson);

  TestOptions t;
  auto* test = app.add_subcommand("test",
                                  "self test against a limits file; exit 0 pass, "
                                  "1 fail, 2 could not run");
  test->add_option("--limits", t.limits, "limits file (TOML)")->required();
  test->add_option("--junit", t.junit, "write a JUnit XML report");
  test->add_option("--csv", t.csv, "write every check as CSV");
  test->add_option("--json", t.json, "write the whole report as JSON");
  test->add_option("--scans", t.scans, "scans per stream when the limits file gives none (50)")
      ->check(CLI::Range(1, 10000000));
  AddRecordOptions(test, t.record);
  test->add_flag("--spc", t.spc,
                 "after a pass, say when the station's kept runs show an open drift alarm "
                 "(never changes the verdict)");

  LearnOptions l;
  auto* learn = app.add_subcommand(
      "learn",
      "learn limits from known-good panels and write them as a limits file: the connected "
      "panel, statistics files (vantrel stats --json), or a learning file grown panel by "
      "panel with --add");
  learn->add_option("streams", l.streams, kStreamHelp);
  learn->add_option("--scans", l.scans, "scans per stream (default 50)")
      ->check(CLI::Range(1, 10000000));
  learn
      ->add_option("--margin-sigma", l.margins.sigmas,
                   "mean limits: the panels' average +- this many standard deviations (of "
                   "the spread between panels, or of the noisiest panel's noise; default 6)")
      ->check(CLI::Range(0.0, 1000.0));
  learn
      ->add_option("--margin-factor", l.margins.factor,
                   "p2p_max and stddev_max: this times the noisiest panel's (default 2)")
      ->check(CLI::Range(1.0, 1000.0));
  learn
      ->add_option("--margin-floor", l.margins.floor,
                   "every margin is at least this many counts (default 2)")
      ->check(CLI::Range(0.0, 100000.0));
  learn->add_option("--version-pattern", l.versionPattern,
                    "expect firmware versions matching this pattern (* ? [..]) instead of "
                    "exactly the learnt panels'");
  learn->add_option("--add", l.add,
                    "add the connected panel's statistics to this learning file (created "
                    "when missing); with -o, learn from every panel in it");
  learn
      ->add_option("--from", l.from,
                   "learn from these files too: statistics of vantrel stats --json (one "
                   "panel each) or learning files")
      ->allow_extra_args(false);
  learn->add_option("--unit", l.unit, "the connected panel's name in the learning file");
  learn
      ->add_option("--unused", l.unused,
                   "electrodes the panel does not use, e.g. X36-X37,Y21: never checked")
      ->allow_extra_args(false);
  learn
      ->add_option("--exclude", l.exclude,
                   "electrodes left out of this learning (faulty on a golden panel)")
      ->allow_extra_args(false);
  learn->add_option("-o,--output", l.output, "limits file to write");
  learn->add_flag("--from-results", l.fromResults,
                  "learn from kept runs (the results database): the newest self test of each "
                  "unit in --serials FILE, or of each unit that passed at --station since "
                  "--since; robust limits");
  learn->add_option("--results", l.results.url,
                    "with --from-results: the results database (sqlite:PATH, postgresql://...; "
                    "default: $VANTREL_RESULTS, else ~/.local/share/vantrel/results.db)");
  learn->add_option("--serials", l.results.serials,
                    "with --from-results: a file of the golden panels' serial numbers, one a line");
  learn->add_option("--station", l.results.station,
                    "with --from-results: the units that passed at this station");
  learn->add_option("--since", l.results.since,
                    "with --from-results --station: from this day on (YYYY-MM-DD, UTC)");
  learn->add_flag("--robust", l.robust,
                  "limits from the panels' median and a robust spread, --spread (always with "
                  "--from-results)");
  learn
      ->add_option_function<std::string>(
          "--spread",
          [&l](const std::string& spread) {
            l.robust = true;
            l.robustMargins.spread =
                spread == "percentile" ? analysis::Spread::kPercentile : analysis::Spread::kMad;
          },
          "robust limits: the spread, mad (1.4826 x MAD, default) or percentile (the distance "
          "between --percentiles)")
      ->check(CLI::IsMember({"mad", "percentile"}));
  learn
      ->add_option_function<std::vector<double>>(
          "--percentiles",
          [&l](const std::vector<double>& p) {
            l.robust = true;
            l.robustMargins.spread = analysis::Spread::kPercentile;
            l.robustMargins.low = p[0];
            l.robustMargins.high = p[1];
          },
          "robust limits from two percentiles, e.g. 10,90 (--spread percentile alone: "
          "25,75, sigma = interquartile range / 1.349)")
      ->expected(2)
      ->delimiter(',');
  learn
      ->add_option("--robust-k", l.robustMargins.k,
                   "robust limits: this many robust standard deviations from the median "
                   "(default 5)")
      ->check(CLI::Range(0.5, 100.0));

  double calTimeout = 60;
  auto* calibrate = app.add_subcommand("calibrate",
                                       "calibrate the controller (do not touch "
                                       "the glass); exit 0 finished, 1 refused");
  calibrate->add_option("--timeout", calTimeout, "seconds to wait for the end (default 60)")
      ->check(CLI::Range(1.0, 3600.0));

  TouchOptions to;
  auto* touch = app.add_subcommand(
      "touch",
      "one touch performance test, guided on the terminal: ghost, rate, jitter, linearity, "
      "accuracy, contacts, separation; exit 0 pass, 1 fail, 2 could not run");
  touch->add_option("test", to.test, "the test")->required();
  touch->add_option("--limits", to.limits,
                    "limits file: [touch] limits, [panel] width_mm and height_mm (default: "
                    "the usual limits, no millimetres)");
  touch->add_option("--junit", to.junit, "write a JUnit XML report");
  touch->add_option("--csv", to.csv, "write every check as CSV");
  touch->add_option("--replay", to.replay, "score a capture file instead of a controller");
  touch->add_option("--truth", to.truth, "true positions, CSV time,contact,x_mm,y_mm (accuracy)");
  AddRecordOptions(touch, to.rec);
  touch->add_option("--seconds", to.seconds,
                    "length of the test, of each window for ghost (default: the test's own)")
      ->check(CLI::Range(0.1, 3600.0));
  touch->add_flag("--no-noise", to.noNoise,
                  "ghost: leave out the window with the noise source on (asked for with Enter)");
  touch->add_option("--wait", to.waitS, "seconds to wait for the first touch (default 30)")
      ->check(CLI::Range(0.1, 3600.0));

  NoiseSweepOptions sweep;
  auto* noiseSweep = AddNoiseSweepCommand(app, sweep);

  for (CLI::App* sub : app.get_subcommands({}))
    sub->footer("The link and time-out options (--config, --usb, --device, --interface, "
                "--serial, --baud, --timeout) may also follow the subcommand: see vantrel "
                "--help.");
  ResultsCommands results(app);
  GrrCommand grr(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // A word where the subcommand goes that is none: named, with what there is.
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
  if (!usb.empty()) {
    const std::string error = ParseUsbIdentity(usb, g.link);
    if (!error.empty()) {
      std::cerr << "vantrel: --usb " << usb << ": " << error << "\n";
      return kExitCannotRun;
    }
  }
  if (baud) g.link.baud = baud;
  if (*ifaceOpt) g.link.iface = iface;
  const bool usesLink = !*hid && !*convert && !(*learn && l.streams.empty()) &&
                        !(grr.Chosen() && grr.Offline());
  if (const std::string bad = CheckLinkConfig(g.link); usesLink && !bad.empty()) {
    std::cerr << "vantrel: " << bad << "\n";
    return kExitCannotRun;
  }

  InstallInterruptHandlers();
  if (results.Chosen()) return results.Run();
  if (grr.Chosen()) return grr.Run(g);
  if (*list) return RunList(g);
  if (*hid) return RunHid(descriptorFile, hidJson);
  if (*info) return RunInfo(g, json);
  if (*send) return RunSend(g, cmd, raw);
  if (*convert) return RunCaptureConvert(convertArgs);
  if (*capture && stream.empty()) {
    std::cerr << "stream is required\nRun with --help for more information.\n";
    return kExitCannotRun;
  }
  if (*capture) return RunCapture(g, stream, scans, csv, record);
  if (*stats) return RunStats(g, stream, scans, json, csv);
  if (*test) return RunTest(g, t);
  if (*learn) return RunLearn(g, l);
  if (*calibrate) return RunCalibrate(g, calTimeout);
  if (*touch) return RunTouch(g, to);
  if (*noiseSweep) return RunNoiseSweep(g, sweep);
  return kExitCannotRun;
}
