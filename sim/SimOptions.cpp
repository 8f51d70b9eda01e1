#include "sim/SimOptions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

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

namespace {

struct ParseState {
  SimOptions o;
  bool ifaceGiven = false;
};

// The value of a numeric option when it is a number in [lo, hi]; nothing with why otherwise.
std::optional<long> NumberIn(const std::string& name, const std::string& v, long lo, long hi,
                             std::string& error) {
  auto n = ParseInt(v);
  if (!n || *n < lo || *n > hi) {
    error = "option " + name + ": \"" + v + "\" is not a number from " + std::to_string(lo) +
            " to " + std::to_string(hi);
    return std::nullopt;
  }
  return n;
}

struct FlagOption {
  std::string_view name;
  void (*set)(SimOptions& o);
};

const FlagOption kFlags[] = {
    {"--help", [](SimOptions& o) { o.help = true; }},
    {"-h", [](SimOptions& o) { o.help = true; }},
    {"--version", [](SimOptions& o) { o.version = true; }},
    {"--usb", [](SimOptions& o) { o.usb = true; }},
    {"--serial", [](SimOptions& o) { o.serial = true; }},
    {"--no-stdin", [](SimOptions& o) { o.readStdin = false; }},
    {"--loop", [](SimOptions& o) { o.replayLoop = true; }},
    {"--stream-seq", [](SimOptions& o) { o.config.streamSeq = true; }},
};

// Numeric options: the range checked, then the value set.
struct NumberOption {
  std::string_view name;
  long lo, hi;
  void (*set)(ParseState& s, long n);
};

const NumberOption kNumbers[] = {
    {"--vid", 0, 0xFFFF,
     [](ParseState& s, long n) {
       s.o.config.vid = static_cast<uint16_t>(n);
       s.o.identityGiven = true;
     }},
    {"--pid", 0, 0xFFFF,
     [](ParseState& s, long n) {
       s.o.config.pid = static_cast<uint16_t>(n);
       s.o.identityGiven = true;
     }},
    {"--iface", 0, 0xFF,
     [](ParseState& s, long n) {
       s.o.config.iface = static_cast<uint8_t>(n);
       s.ifaceGiven = true;
       s.o.identityGiven = true;
     }},
    {"--seed", 0, 0xFFFFFFFFu,
     [](ParseState& s, long n) { s.o.config.noiseSeed = static_cast<uint32_t>(n); }},
    {"--offset", -500, 500,
     [](ParseState& s, long n) { s.o.config.valueOffset = static_cast<int>(n); }},
    {"--x-count", 1, 255,
     [](ParseState& s, long n) { s.o.config.xCount = static_cast<uint8_t>(n); }},
    {"--y-count", 1, 255,
     [](ParseState& s, long n) { s.o.config.yCount = static_cast<uint8_t>(n); }},
    {"--resolution", 1, 0xFFFF,
     [](ParseState& s, long n) { s.o.config.resolution = static_cast<uint16_t>(n); }},
    {"--x-range", 1, 0xFFFF,
     [](ParseState& s, long n) { s.o.config.xRange = static_cast<uint16_t>(n); }},
    {"--y-range", 1, 0xFFFF,
     [](ParseState& s, long n) { s.o.config.yRange = static_cast<uint16_t>(n); }},
    {"--values-per-frame", 1, 28,
     [](ParseState& s, long n) { s.o.config.valuesPerFrame = static_cast<int>(n); }},
    {"--scpi", 0, 65535, [](ParseState& s, long n) { s.o.scpiPort = static_cast<int>(n); }},
    {"--touch-rate", 1, 10000,
     [](ParseState& s, long n) { s.o.config.touchRateHz = static_cast<double>(n); }},
    {"--calibrate-delay", 0, 3'600'000,
     [](ParseState& s, long n) { s.o.config.calibrateDelayMs = static_cast<int>(n); }},
};

bool TakeSpeed(SimOptions& o, const std::string& v, std::string& error) {
  char* end = nullptr;
  const double x = std::strtod(v.c_str(), &end);
  if (end == v.c_str() || *end || !(x >= 0.01) || x > 1000) {
    error = "--speed: a factor from 0.01 to 1000";
    return false;
  }
  o.replaySpeed = x;
  return true;
}

bool TakeVersionText(SimOptions& o, const std::string& v, std::string& error) {
  if (v.size() > 60) {
    error = "--version-text: at most 60 characters";
    return false;
  }
  o.config.versionText = v;
  return true;
}

bool TakeCalibrateResult(SimOptions& o, const std::string& v, std::string& error) {
  if (v == "ok")
    o.config.calibrateResult = CalibrateResult::Ok;
  else if (v == "fail")
    o.config.calibrateResult = CalibrateResult::Fail;
  else if (v == "never")
    o.config.calibrateResult = CalibrateResult::Never;
  else {
    error = "--calibrate-result: ok, fail or never";
    return false;
  }
  return true;
}

bool TakeRate(SimOptions& o, const std::string& v, std::string& error) {
  if (v == "max") {
    o.config.streamRateMax = true;
    return true;
  }
  char* end = nullptr;
  double hz = std::strtod(v.c_str(), &end);
  if (end == v.c_str() || *end || !(hz > 0) || hz > 1e6) {
    error = "--rate: a positive number of reports per second, or max";
    return false;
  }
  o.config.streamRateHz = hz;
  return true;
}

bool TakeDetail(SimOptions& o, const std::string& v, std::string& error) {
  auto n = NumberIn("--detail", v, 8, 17, error);
  if (!n) return false;
  o.config.detailForm = static_cast<int>(*n);
  if (o.config.detailForm != 8 && o.config.detailForm != 17) {
    error = "--detail: 8 or 17";
    return false;
  }
  return true;
}

bool TakePanelMm(SimOptions& o, const std::string& v, std::string& error) {
  double w = 0, h = 0;
  char extra = 0;
  if (std::sscanf(v.c_str(), "%lfx%lf%c", &w, &h, &extra) != 2 || !(w > 0) || !(h > 0) ||
      w > 10000 || h > 10000) {
    error = "--panel-mm: WIDTHxHEIGHT in millimetres, e.g. 190x110";
    return false;
  }
  o.config.widthMm = w;
  o.config.heightMm = h;
  return true;
}

// Options with a value of another form: false with error when it is not usable.
struct TextOption {
  std::string_view name;
  bool (*take)(SimOptions& o, const std::string& v, std::string& error);
};

const TextOption kTexts[] = {
    {"--socket", [](SimOptions& o, const std::string& v, std::string&) {
       o.socketPath = v;
       return true;
     }},
    {"--link", [](SimOptions& o, const std::string& v, std::string&) {
       o.linkPath = v;
       return true;
     }},
    {"--control", [](SimOptions& o, const std::string& v, std::string&) {
       o.controlPath = v;
       return true;
     }},
    {"--trace", [](SimOptions& o, const std::string& v, std::string&) {
       o.tracePath = v;
       return true;
     }},
    {"--replay", [](SimOptions& o, const std::string& v, std::string&) {
       o.replayPath = v;
       return true;
     }},
    {"--speed", TakeSpeed},
    {"--version-text", TakeVersionText},
    {"--calibrate-result", TakeCalibrateResult},
    {"--rate", TakeRate},
    {"--detail", TakeDetail},
    {"--panel-mm", TakePanelMm},
};

// The option at args[i] and its value (i moves past it); false with error.
bool TakeOption(const std::vector<std::string>& args, size_t& i, ParseState& s,
                std::string& error) {
  const std::string& a = args[i];
  for (const FlagOption& f : kFlags)
    if (a == f.name) {
      f.set(s.o);
      return true;
    }
  const auto isA = [&a](const auto& option) { return a == option.name; };
  const TextOption* text = std::find_if(std::begin(kTexts), std::end(kTexts), isA);
  const NumberOption* number = std::find_if(std::begin(kNumbers), std::end(kNumbers), isA);
  if (text == std::end(kTexts) && number == std::end(kNumbers)) {
    error = "unknown option: " + a;
    return false;
  }
  if (i + 1 >= args.size()) {
    error = "option " + a + " needs a value";
    return false;
  }
  const std::string& v = args[++i];
  if (text != std::end(kTexts)) return text->take(s.o, v, error);
  auto n = NumberIn(a, v, number->lo, number->hi, error);
  if (n) number->set(s, *n);
  return n.has_value();
}

// What the options mean together: defaults that depend on others, and conflicts.
bool Complete(ParseState& s, std::string& error) {
  SimOptions& o = s.o;
  if (!s.ifaceGiven && ControllerConfig::IsDfuPid(o.config.pid)) o.config.iface = 0;
  if (!o.usb && !o.serial) o.usb = true;
  if (o.serial && o.linkPath.empty() && !o.help && !o.version) {
    error = "--serial needs --link PATH";
    return false;
  }
  if (uint32_t(o.config.xCount) * o.config.resolution > 0xFFFF ||
      uint32_t(o.config.yCount) * o.config.resolution > 0xFFFF) {
    if (!o.config.xRange || !o.config.yRange) {
      error = "electrode count times resolution exceeds 65535; give --x-range and --y-range";
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args,
                                          std::string& error) {
  ParseState s;
  for (size_t i = 0; i < args.size(); ++i)
    if (!TakeOption(args, i, s, error)) return std::nullopt;
  if (!Complete(s, error)) return std::nullopt;
  return s.o;
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
