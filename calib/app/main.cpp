// Lumora: finds the touch panel controller, shows its version and starts its calibration.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "TformCalibration.h"

#ifndef LUMORA_CAPTION_VERSION
#define LUMORA_CAPTION_VERSION "2013.01.30.01"
#endif

namespace {

void PrintHelp() {
  std::printf(
      "Usage: Lumora [--help] [--version]\n"
      "\n"
      "Calibration launcher for KORVIK touch panel controllers on USB.\n"
      "It finds a known controller, shows its firmware version and starts the\n"
      "controller's calibration when \"Calibrate\" is pressed. On closing, touch\n"
      "coordinates are handed back to the system cursor.\n"
      "\n"
      "Environment:\n"
      "  HIDPIPE_SIM=PATH   talk to the tpcsim simulator on that socket instead of USB\n"
      "\n"
      "Options:\n"
      "  --help       show this text and exit\n"
      "  --version    show the version and exit\n");
}

// Options are handled before any window exists; unknown ones are refused.
int HandleOptions(int argc, char** argv, bool& quit) {
  quit = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintHelp();
      quit = true;
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Lumora " LUMORA_CAPTION_VERSION "\n");
      quit = true;
      return 0;
    }
    // Single-dash options belong to Qt (-platform, -style ...).
    if (argv[i][0] == '-' && argv[i][1] != '-') {
      ++i;
      continue;
    }
    std::fprintf(stderr, "Lumora: unknown option '%s' (try --help)\n", argv[i]);
    quit = true;
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool quit = false;
  const int rc = HandleOptions(argc, argv, quit);
  if (quit) return rc;

  QApplication app(argc, argv);
  TformCalibration form;
  form.show();
  return app.exec();
}
