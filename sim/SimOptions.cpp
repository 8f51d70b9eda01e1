#include "sim/SimOptions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace tpcsim {

namespace {

std::optional<long> ParseInt(std::string s) {
  int base = 10;
  std::string_view v = s;
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    v.remove_prefix(2);
    base = 16;
  }
  long out = 0;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), out, base);
  if (ec != std::errc() || p != v.data() + v.size() || v.empty()) return std::nullopt;
  return out;
}

}  // namespace

const char* SimOptionsUsage() {
  return "Usage: tpcsim [--usb] [--serial] [options]\n"
         "Virtual touch panel controller.\n"
         "\n"
         "Transports (USB when neither is given; both may run together):\n"
         "  --usb                     serve the hidpipe simulator socket\n"
         "  --socket PATH             socket path (default $XDG_RUNTIME_DIR/tpcsim/tpcsim.sock\n"
         "                            or /tmp/tpcsim-$UID/tpcsim.sock, folder mode 0700)\n"
         "  --vid V --pid P --iface I USB identity (default 0x227D, 0x0102, 1); products\n"
         "                            0x0104 to 0x0108 are boot loaders (interface 0 unless "
         "given)\n"
         "  --serial                  serve a pseudo-terminal serial port\n"
         "  --link PATH               symbolic link made to the pseudo-terminal (required\n"
         "                            with --serial)\n"
         "\n"
         "Controller:\n"
         "  --version-text TEXT       firmware version text (default \"TPCSIM 1.0.0\")\n"
         "  --detail 8|17             form of the panel information reply (default 17)\n"
         "  --x-count N --y-count N   electrodes (default 38 x 22)\n"
         "  --resolution N            coordinate units per electrode (default 64)\n"
         "  --x-range N --y-range N   largest coordinates (default count * resolution)\n"
         "  --values-per-frame N      data values per report, 1 to 28 (default 20)\n"
         "  --rate HZ|max             data reports per second (default 400)\n"
         "  --touch-rate HZ           coordinate reports per second (default 100)\n"
         "  --panel-mm WxH            physical panel size in mm (default 190x110)\n"
         "  --stream-seq              data values 0-3: sequence number, send time (us)\n"
         "  --seed N                  noise of the data values (default 12345): another\n"
         "                            seed, another panel\n"
         "  --offset N                added to raw, offset and open/short values, -500 to\n"
         "                            500 (default 0)\n"
         "  --calibrate-delay MS      calibration acknowledgement delay (default 2000)\n"
         "  --calibrate-result ok|fail|never\n"
         "  --scpi PORT               a signal generator answering SCPI on 127.0.0.1:PORT\n"
         "                            (0: a free port, shown by the status command)\n"
         "\n"
         "Observation and control:\n"
         "  --trace FILE              capture of every frame (docs/CAPTURE.md; FILE.zst:\n"
         "                            compressed)\n"
         "  --replay FILE             serve a capture: host commands are answered from it,\n"
         "                            its device frames sent with their timing from the\n"
         "                            first host frame on (USB identity from the capture\n"
         "                            unless --vid/--pid/--iface are given)\n"
         "  --speed X                 replay speed factor, 0.01 to 1000 (default 1)\n"
         "  --loop                    replay again from the start at the end\n"
         "  --control PATH            control socket (same commands as standard input)\n"
         "  --no-stdin                do not read commands from standard input\n"
         "  --help, --version\n"
         "\n";
}

std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args,
                                          std::string& error) {
  SimOptions o;
  bool ifaceGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) {
        error = "option " + a + " needs a value";
        return std::nullopt;
      }
      return args[++i];
    };
    auto number = [&](long lo, long hi) -> std::optional<long> {
      auto v = value();
      if (!v) return std::nullopt;
      auto n = ParseInt(*v);
      if (!n || *n < lo || *n > hi) {
        error = "option " + a + ": \"" + *v + "\" is not a number from " + std::to_string(lo) +
                " to " + std::to_string(hi);
        return std::nullopt;
      }
      return n;
    };
#define TPC_NUM(field, lo, hi, type) \
  do {                               \
    auto n = number(lo, hi);         \
    if (!n) return std::nullopt;     \
    field = static_cast<type>(*n);   \
  } while (0)
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--usb") {
      o.usb = true;
    } else if (a == "--serial") {
      o.serial = true;
    } else if (a == "--no-stdin") {
      o.readStdin = false;
    } else if (a == "--loop") {
      o.replayLoop = true;
    } else if (a == "--stream-seq") {
      o.config.streamSeq = true;
    } else if (a == "--socket" || a == "--link" || a == "--control" || a == "--trace" ||
               a == "--version-text" || a == "--calibrate-result" || a == "--rate" ||
               a == "--replay" || a == "--speed") {
      auto v = value();
      if (!v) return std::nullopt;
      if (a == "--socket") o.socketPath = *v;
      if (a == "--link") o.linkPath = *v;
      if (a == "--control") o.controlPath = *v;
      if (a == "--trace") o.tracePath = *v;
      if (a == "--replay") o.replayPath = *v;
      if (a == "--speed") {
        char* end = nullptr;
        const double x = std::strtod(v->c_str(), &end);
        if (end == v->c_str() || *end || !(x >= 0.01) || x > 1000) {
          error = "--speed: a factor from 0.01 to 1000";
          return std::nullopt;
        }
        o.replaySpeed = x;
      }
      if (a == "--version-text") {
        if (v->size() > 60) {
          error = "--version-text: at most 60 characters";
          return std::nullopt;
        }
        o.config.versionText = *v;
      }
      if (a == "--calibrate-result") {
        if (*v == "ok")
          o.config.calibrateResult = CalibrateResult::Ok;
        else if (*v == "fail")
          o.config.calibrateResult = CalibrateResult::Fail;
        else if (*v == "never")
          o.config.calibrateResult = CalibrateResult::Never;
        else {
          error = "--calibrate-result: ok, fail or never";
          return std::nullopt;
        }
      }
      if (a == "--rate") {
        if (*v == "max") {
          o.config.streamRateMax = true;
        } else {
          char* end = nullptr;
          double hz = std::strtod(v->c_str(), &end);
          if (end == v->c_str() || *end || !(hz > 0) || hz > 1e6) {
            error = "--rate: a positive number of reports per second, or max";
            return std::nullopt;
          }
          o.config.streamRateHz = hz;
        }
      }
    } else if (a == "--vid") {
      TPC_NUM(o.config.vid, 0, 0xFFFF, uint16_t);
      o.identityGiven = true;
    } else if (a == "--pid") {
      TPC_NUM(o.config.pid, 0, 0xFFFF, uint16_t);
      o.identityGiven = true;
    } else if (a == "--iface") {
      TPC_NUM(o.config.iface, 0, 0xFF, uint8_t);
      ifaceGiven = true;
      o.identityGiven = true;
    } else if (a == "--detail") {
      TPC_NUM(o.config.detailForm, 8, 17, int);
      if (o.config.detailForm != 8 && o.config.detailForm != 17) {
        error = "--detail: 8 or 17";
        return std::nullopt;
      }
    } else if (a == "--seed") {
      TPC_NUM(o.config.noiseSeed, 0, 0xFFFFFFFFu, uint32_t);
    } else if (a == "--offset") {
      TPC_NUM(o.config.valueOffset, -500, 500, int);
    } else if (a == "--x-count") {
      TPC_NUM(o.config.xCount, 1, 255, uint8_t);
    } else if (a == "--y-count") {
      TPC_NUM(o.config.yCount, 1, 255, uint8_t);
    } else if (a == "--resolution") {
      TPC_NUM(o.config.resolution, 1, 0xFFFF, uint16_t);
    } else if (a == "--x-range") {
      TPC_NUM(o.config.xRange, 1, 0xFFFF, uint16_t);
    } else if (a == "--y-range") {
      TPC_NUM(o.config.yRange, 1, 0xFFFF, uint16_t);
    } else if (a == "--values-per-frame") {
      TPC_NUM(o.config.valuesPerFrame, 1, 28, int);
    } else if (a == "--panel-mm") {
      double w = 0, h = 0;
      char extra = 0;
      auto v = value();
      if (!v) return std::nullopt;
      if (std::sscanf(v->c_str(), "%lfx%lf%c", &w, &h, &extra) != 2 || !(w > 0) || !(h > 0) ||
          w > 10000 || h > 10000) {
        error = "--panel-mm: WIDTHxHEIGHT in millimetres, e.g. 190x110";
        return std::nullopt;
      }
      o.config.widthMm = w;
      o.config.heightMm = h;
    } else if (a == "--scpi") {
      TPC_NUM(o.scpiPort, 0, 65535, int);
    } else if (a == "--touch-rate") {
      TPC_NUM(o.config.touchRateHz, 1, 10000, double);
    } else if (a == "--calibrate-delay") {
      TPC_NUM(o.config.calibrateDelayMs, 0, 3'600'000, int);
    } else {
      error = "unknown option: " + a;
      return std::nullopt;
    }
#undef TPC_NUM
  }
  if (!ifaceGiven && ControllerConfig::IsDfuPid(o.config.pid)) o.config.iface = 0;
  if (!o.usb && !o.serial) o.usb = true;
  if (o.serial && o.linkPath.empty() && !o.help && !o.version) {
    error = "--serial needs --link PATH";
    return std::nullopt;
  }
  if (uint32_t(o.config.xCount) * o.config.resolution > 0xFFFF ||
      uint32_t(o.config.yCount) * o.config.resolution > 0xFFFF) {
    if (!o.config.xRange || !o.config.yRange) {
      error = "electrode count times resolution exceeds 65535; give --x-range and --y-range";
      return std::nullopt;
    }
  }
  return o;
}

std::optional<std::string> PrivateSimDir(std::string& error) {
  std::string dir;
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && *xdg)
    dir = std::string(xdg) + "/tpcsim";
  else
    dir = "/tmp/tpcsim-" + std::to_string(getuid());
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + dir + ": " + std::strerror(errno);
    return std::nullopt;
  }
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
    error = dir + " is not a folder of this user";
    return std::nullopt;
  }
  if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) {
    error = "cannot make " + dir + " private: " + std::strerror(errno);
    return std::nullopt;
  }
  return dir;
}

}  // namespace tpcsim
