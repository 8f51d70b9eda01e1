// vantrel noise-sweep: a signal generator driven through frequencies while the panel's
// noise, ghosts and jitter are measured at each; CSV (also the file a sweep resumes
// from), JUnit, the records store and an HTML page.
#pragma once

#include <string>

#include "cli/Commands.h"
#include "cli/TestRecord.h"

namespace CLI {
class App;
}

struct NoiseSweepOptions {
  std::string generator;  // tcp://HOST:5025, usbtmc:/dev/usbtmc0 or manual
  double fromHz = 0, toHz = 0;
  int points = 0;
  double stepHz = 0;
  bool log = false;
  double vpp = 10;
  std::string waveform = "square";
  double settleS = 0.05, dwellS = 0.2;
  std::string touch = "none";  // none or held
  std::string stream;          // "" m0-raw, or m0-signal with a held finger
  std::string limits, csv, junit, html, resume;
  RecordOptions rec;
  double waitS = 30;  // held: longest wait for the finger
};

// The subcommand and its options.
CLI::App* AddNoiseSweepCommand(CLI::App& app, NoiseSweepOptions& o);
int RunNoiseSweep(const GlobalOptions& g, const NoiseSweepOptions& o);
