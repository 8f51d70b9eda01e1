// tpcsim: a virtual touch panel controller on the hidpipe simulator socket and/or a
// pseudo-terminal serial port.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <type_traits>

#include "capture/CaptureReader.h"
#include "sim/ControlChannel.h"
#include "sim/ControlInterpreter.h"
#include "sim/ScpiServer.h"
#include "sim/SerialPtyPort.h"
#include "sim/SimGenerator.h"
#include "sim/SimLoop.h"
#include "sim/SimOptions.h"
#include "sim/Trace.h"
#include "sim/UsbSocketServer.h"

#ifndef TPCSIM_VERSION
#define TPCSIM_VERSION "0"
#endif

using namespace tpcsim;

namespace {

// The capture's own header: what this simulator is and serves.
capture::Header TraceHeader(const SimOptions& o) {
  const ControllerConfig& c = o.config;
  capture::Header h;
  h.program = std::string("tpcsim ") + TPCSIM_VERSION;
  char text[160];
  if (o.usb) {
    h.link = capture::LinkKind::kUsb;
    std::snprintf(text, sizeof text, "vid=%04X pid=%04X iface=%u", c.vid, c.pid, unsigned{c.iface});
  } else {
    h.link = capture::LinkKind::kSerial;
    std::snprintf(text, sizeof text, "pty path=%s", o.linkPath.c_str());
  }
  h.linkDetail = text;
  h.firmware = c.versionText;
  std::snprintf(text, sizeof text, "x=%u y=%u resolution=%u xrange=%u yrange=%u",
                unsigned{c.xCount}, unsigned{c.yCount}, unsigned{c.resolution},
                unsigned{c.XRange()}, unsigned{c.YRange()});
  h.panel = text;
  return h;
}

// "vid=227D pid=0102 iface=1" of a USB capture becomes the identity served.
void TakeIdentity(const std::string& detail, ControllerConfig& c) {
  auto hex = [&](const char* key, auto& field, int base) {
    const size_t at = detail.find(key);
    if (at == std::string::npos) return;
    field = static_cast<std::remove_reference_t<decltype(field)>>(
        std::strtoul(detail.c_str() + at + std::strlen(key), nullptr, base));
  };
  hex("vid=", c.vid, 16);
  hex("pid=", c.pid, 16);
  hex("iface=", c.iface, 10);
}

// Reports why the simulator cannot start; the exit code.
int Fail(const std::string& why) {
  std::fprintf(stderr, "tpcsim: %s\n", why.c_str());
  return 1;
}

// The answer to --help or --version, when one was asked for.
std::optional<int> AnswerInfo(const SimOptions& o) {
  if (o.help) {
    std::fputs(SimOptionsUsage(), stdout);
    std::fputs(ControlInterpreter::Usage(), stdout);
    return 0;
  }
  if (o.version) {
    std::printf("tpcsim %s\n", TPCSIM_VERSION);
    return 0;
  }
  return std::nullopt;
}

// The capture of --replay; a USB capture's identity and its firmware text become the
// controller's. False when it cannot be read (reported).
bool OpenReplay(SimOptions& o, std::shared_ptr<capture::CaptureReader>& replay) {
  const std::string path = o.replayPath;
  // Warnings and the line reading stops at come as the capture is indexed.
  auto notice = [path](const std::string& text, bool last) {
    std::fprintf(stderr, "tpcsim: %s: %s%s\n", path.c_str(), text.c_str(),
                 last ? "; the frames before it are served" : "");
  };
  std::string error;
  replay = capture::CaptureReader::Open(path, error, notice);
  if (!replay) {
    std::fprintf(stderr, "tpcsim: --replay %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  const capture::Header& h = replay->GetHeader();
  if (h.link == capture::LinkKind::kUsb && !o.identityGiven) TakeIdentity(h.linkDetail, o.config);
  if (!h.firmware.empty()) o.config.versionText = h.firmware;
  return true;
}

// What the transports need to be built.
struct SimCore {
  const SimOptions& opts;
  MonotonicClock& clock;
  SimLoop& loop;
  Trace& trace;
  std::shared_ptr<capture::CaptureReader> replay;

  // Each transport serves the capture from a player of its own.
  void ServeReplay(SimDevice& device) const {
    if (opts.replayPath.empty()) return;
    device.Controller().SetReplay(
        std::make_shared<ReplaySource>(clock, replay, opts.replaySpeed, opts.replayLoop));
  }
};

// The USB device on the simulator socket (in a private directory unless one is named).
bool StartUsb(const SimCore& core, std::unique_ptr<UsbSocketServer>& usb, std::string& error) {
  std::string path = core.opts.socketPath;
  if (path.empty()) {
    auto dir = PrivateSimDir(error);
    if (!dir) return false;
    path = *dir + "/tpcsim.sock";
  }
  usb = std::make_unique<UsbSocketServer>(core.loop, core.clock, core.trace, core.opts.config);
  if (!usb->Listen(path, error)) return false;
  std::fprintf(stderr, "tpcsim: USB device %s\n", usb->NoticePath().c_str());
  core.ServeReplay(*usb);
  return true;
}

// The serial port on a pseudo-terminal, linked at the path asked for.
bool StartSerial(const SimCore& core, std::unique_ptr<SerialPtyPort>& serial,
                 std::string& error) {
  serial = std::make_unique<SerialPtyPort>(core.loop, core.clock, core.trace, core.opts.config);
  if (!serial->Open(core.opts.linkPath, error)) return false;
  std::fprintf(stderr, "tpcsim: serial port %s linked at %s\n", serial->SlavePath().c_str(),
               core.opts.linkPath.c_str());
  core.ServeReplay(*serial);
  return true;
}

// The SCPI signal generator on the TCP port asked for.
bool StartScpi(const SimOptions& o, SimLoop& loop, SimGenerator& generator,
               ControlInterpreter& interpreter, std::unique_ptr<ScpiServer>& scpi,
               std::string& error) {
  scpi = std::make_unique<ScpiServer>(loop, generator, [&] { interpreter.ApplyGenerator(); });
  if (!scpi->Listen(o.scpiPort, error)) return false;
  interpreter.SetGenerator(&generator, scpi.get());
  std::fprintf(stderr, "tpcsim: signal generator on 127.0.0.1:%d (SCPI)\n", scpi->Port());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  auto opts = ParseSimOptions(args, error);
  if (!opts) {
    std::fprintf(stderr, "tpcsim: %s\n(try tpcsim --help)\n", error.c_str());
    return 2;
  }
  if (auto code = AnswerInfo(*opts)) return *code;
  signal(SIGPIPE, SIG_IGN);

  std::shared_ptr<capture::CaptureReader> replay;
  if (!opts->replayPath.empty() && !OpenReplay(*opts, replay)) return 1;

  MonotonicClock clock;
  SimLoop loop(clock);
  Trace trace(clock);
  if (!opts->tracePath.empty() && !trace.Open(opts->tracePath, TraceHeader(*opts), error))
    return Fail(error);
  const SimCore core{*opts, clock, loop, trace, replay};

  std::vector<SimDevice*> devices;
  std::unique_ptr<UsbSocketServer> usb;
  std::unique_ptr<SerialPtyPort> serial;
  if (opts->usb) {
    if (!StartUsb(core, usb, error)) return Fail(error);
    devices.push_back(usb.get());
  }
  if (opts->serial) {
    if (!StartSerial(core, serial, error)) return Fail(error);
    devices.push_back(serial.get());
  }

  ControlInterpreter interpreter(devices);
  SimGenerator generator;
  std::unique_ptr<ScpiServer> scpi;
  if (opts->scpiPort >= 0 && !StartScpi(*opts, loop, generator, interpreter, scpi, error))
    return Fail(error);
  ControlChannel control(loop, interpreter);
  if (opts->readStdin) control.WatchStdin();
  if (!opts->controlPath.empty() && !control.ListenSocket(opts->controlPath, error))
    return Fail(error);

  if (!loop.Run()) return Fail("cannot set up the event loop");
  if (serial) serial->Unplug();  // removes the link
  return 0;
}
