// tpcsim: a virtual touch panel controller on the hidpipe simulator socket and/or a
// pseudo-terminal serial port.
#include <signal.h>

#include <cstdio>
#include <memory>

#include "sim/ControlChannel.h"
#include "sim/ControlInterpreter.h"
#include "sim/SerialPtyPort.h"
#include "sim/SimLoop.h"
#include "sim/SimOptions.h"
#include "sim/Trace.h"
#include "sim/UsbSocketServer.h"

#ifndef TPCSIM_VERSION
#define TPCSIM_VERSION "0"
#endif

using namespace tpcsim;

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  auto opts = ParseSimOptions(args, error);
  if (!opts) {
    std::fprintf(stderr, "tpcsim: %s\n(try tpcsim --help)\n", error.c_str());
    return 2;
  }
  if (opts->help) {
    std::fputs(SimOptionsUsage(), stdout);
    std::fputs(ControlInterpreter::Usage(), stdout);
    return 0;
  }
  if (opts->version) {
    std::printf("tpcsim %s\n", TPCSIM_VERSION);
    return 0;
  }
  signal(SIGPIPE, SIG_IGN);

  MonotonicClock clock;
  SimLoop loop(clock);
  Trace trace(clock);
  if (!opts->tracePath.empty() && !trace.Open(opts->tracePath, error)) {
    std::fprintf(stderr, "tpcsim: %s\n", error.c_str());
    return 1;
  }

  std::vector<SimDevice*> devices;
  std::unique_ptr<UsbSocketServer> usb;
  std::unique_ptr<SerialPtyPort> serial;
  if (opts->usb) {
    std::string path = opts->socketPath;
    if (path.empty()) {
      auto dir = PrivateSimDir(error);
      if (!dir) {
        std::fprintf(stderr, "tpcsim: %s\n", error.c_str());
        return 1;
      }
      path = *dir + "/tpcsim.sock";
    }
    usb = std::make_unique<UsbSocketServer>(loop, clock, trace, opts->config);
    if (!usb->Listen(path, error)) {
      std::fprintf(stderr, "tpcsim: %s\n", error.c_str());
      return 1;
    }
    std::fprintf(stderr, "tpcsim: USB device %s\n", usb->NoticePath().c_str());
    devices.push_back(usb.get());
  }
  if (opts->serial) {
    serial = std::make_unique<SerialPtyPort>(loop, clock, trace, opts->config);
    if (!serial->Open(opts->linkPath, error)) {
      std::fprintf(stderr, "tpcsim: %s\n", error.c_str());
      return 1;
    }
    std::fprintf(stderr, "tpcsim: serial port %s linked at %s\n", serial->SlavePath().c_str(),
                 opts->linkPath.c_str());
    devices.push_back(serial.get());
  }

  ControlInterpreter interpreter(devices);
  ControlChannel control(loop, interpreter);
  if (opts->readStdin) control.WatchStdin();
  if (!opts->controlPath.empty() && !control.ListenSocket(opts->controlPath, error)) {
    std::fprintf(stderr, "tpcsim: %s\n", error.c_str());
    return 1;
  }

  if (!loop.Run()) {
    std::fprintf(stderr, "tpcsim: cannot set up the event loop\n");
    return 1;
  }
  if (serial) serial->Unplug();  // removes the link
  return 0;
}
