#include "sim/ControlInterpreter.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <sstream>
#include <utility>

namespace tpcsim {

namespace {

std::vector<std::string> Split(std::string_view line) {
  std::vector<std::string> out;
  std::istringstream in{std::string(line)};
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

// Rest of the line after the first word (texts with blanks).
std::string RestAfterWord(std::string_view line) {
  size_t i = line.find_first_not_of(" \t");
  if (i == std::string_view::npos) return {};
  i = line.find_first_of(" \t", i);
  if (i == std::string_view::npos) return {};
  i = line.find_first_not_of(" \t", i);
  if (i == std::string_view::npos) return {};
  std::string_view rest = line.substr(i);
  while (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n')) rest.remove_suffix(1);
  return std::string(rest);
}

std::optional<long> ParseInt(std::string_view s, int base = 10) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  long v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
  return v;
}

// "on" = every frame, "off" = never, n = one in n.
std::optional<int> ParseEvery(const std::vector<std::string>& a) {
  if (a.size() != 2) return std::nullopt;
  if (a[1] == "on") return 1;
  if (a[1] == "off") return 0;
  auto n = ParseInt(a[1]);
  if (!n || *n < 1 || *n > 1'000'000) return std::nullopt;
  return static_cast<int>(*n);
}

std::optional<bool> ParseOnOff(const std::vector<std::string>& a) {
  if (a.size() != 2) return std::nullopt;
  if (a[1] == "on" || a[1] == "1") return true;
  if (a[1] == "off" || a[1] == "0") return false;
  return std::nullopt;
}

std::string Hex2(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02X", v & 0xFF);
  return b;
}

std::string Hex4(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04X", v & 0xFFFF);
  return b;
}

const std::string kOk = "ok";

}  // namespace

std::optional<double> ControlInterpreter::ParseNumber(const std::string& s) {
  try {
    size_t used = 0;
    double v = std::stod(s, &used);
    if (used != s.size()) return std::nullopt;
    return v;
  } catch (...) {
    return std::nullopt;
  }
}

const char* ControlInterpreter::Usage() {
  return "Control commands (standard input or the control socket, one per line;\n"
         "answered by \"ok ...\" or \"error: ...\"):\n"
         "  status                      plugged state, identity, stream, settings, faults\n"
         "  stats                       frame counts (host frames, replies, data, touches...)\n"
         "  plug | unplug | replug      attach or detach the device (USB: device notices;\n"
         "                              serial: the link appears or disappears)\n"
         "  touch tap <f> <x> <y> [ms]                finger f (0-9) down for ms (100)\n"
         "  touch line <f> <x0> <y0> <x1> <y1> [ms]   move from (x0,y0) to (x1,y1) (500 ms)\n"
         "  touch circle <f> <cx> <cy> <r> [ms] [turns]  circle, one turn per ms (1000)\n"
         "  touch hold <f> <x> <y>                    down until \"touch up\"\n"
         "  touch up <f>|all                          lift fingers\n"
         "                              (coordinates in panel units, 0 to the X/Y range)\n"
         "  nak <sub>|off               negative acknowledgement for a sub-command (hex)\n"
         "  silence on|off              send nothing, ignore the host\n"
         "  garbage                     send one burst of garbage bytes now\n"
         "  garbage on|off|<n>          garbage before every / no / one in n frames\n"
         "  truncate on|off|<n>         cut frames to half their length\n"
         "  badlen on|off|<n>           frames whose length byte claims 5 bytes more\n"
         "  rate <hz>|max               data reports per second (or as fast as possible)\n"
         "  touch-rate <hz>             coordinate reports per second (default 100)\n"
         "  stream <code>|off           start a data stream of a data code (hex), or stop\n"
         "  stream-seq on|off           sequence number and send time in data values\n"
         "  calibrate-delay <ms>        delay of the calibration acknowledgement (2000)\n"
         "  calibrate-result ok|fail|never\n"
         "  detail 8|17                 form of the panel information reply\n"
         "  version-text <text>         firmware version text (at most 60 characters)\n"
         "  devtext <text>              send a device text frame (0xF5)\n"
         "  opens 1|0                   open/short data shows electrode 3 open\n"
         "  electrode x|y <i> noisy <amplitude>|open|short|ok\n"
         "                              make electrode i noisy (+-amplitude), open (0),\n"
         "                              shorted or sound\n"
         "  electrode off               every electrode sound again\n"
         "  panel-mm <width> <height>   physical panel size in mm (190 x 110)\n"
         "  touch-fault noise <mm> | pincushion <mm> | offset <dx_mm> <dy_mm> |\n"
         "              drop <n> [every] | ghost <n> | noise-ghost <n> | swap <a> <b> |\n"
         "              merge <mm> | off\n"
         "                              panel defects in the coordinate reports (sim/README.md)\n"
         "  noise-source on|off         the bench's noise source beside the panel\n"
         "  noise-band <from> <to> <gain> | off\n"
         "                              while the generator (--scpi) drives a frequency in\n"
         "                              [from, to] Hz, data values scatter by gain counts per\n"
         "                              Vpp (bands add up; off clears them)\n"
         "  noise-ghosts <level> [n]    n ghost contacts (1) while that noise reaches level\n"
         "                              counts (0: never)\n"
         "  generator                   the generator's state: output, frequency, amplitude\n"
         "  scpi-refuse <header>|off    the generator answers that command with an error\n"
         "  scpi-drop                   close the generator's connections\n"
         "  help                        this list\n"
         "  quit                        end the simulator\n";
}

std::string ControlInterpreter::Execute(std::string_view line) {
  auto a = Split(line);
  if (a.empty()) return "error: empty command";
  using Self = ControlInterpreter;
  using Line = std::string_view;
  using Run = std::string (*)(Self&, const Args&, Line);
  static const std::pair<std::string_view, Run> kCommands[] = {
      {"help", [](Self&, const Args&, Line) -> std::string { return "ok see --help"; }},
      {"quit", [](Self& c, const Args&, Line) { return c.Quit(); }},
      {"exit", [](Self& c, const Args&, Line) { return c.Quit(); }},
      {"status", [](Self& c, const Args&, Line) { return c.Status(); }},
      {"stats", [](Self& c, const Args&, Line) { return c.Stats(); }},
      {"plug", [](Self& c, const Args& w, Line) { return c.Plug(w); }},
      {"unplug", [](Self& c, const Args& w, Line) { return c.Plug(w); }},
      {"replug", [](Self& c, const Args& w, Line) { return c.Plug(w); }},
      {"touch", [](Self& c, const Args& w, Line) { return c.Touch(w); }},
      {"noise-band", [](Self& c, const Args& w, Line) { return c.Generator(w); }},
      {"noise-ghosts", [](Self& c, const Args& w, Line) { return c.Generator(w); }},
      {"scpi-refuse", [](Self& c, const Args& w, Line) { return c.Generator(w); }},
      {"scpi-drop", [](Self& c, const Args& w, Line) { return c.Generator(w); }},
      {"generator", [](Self& c, const Args& w, Line) { return c.Generator(w); }},
      {"nak", [](Self& c, const Args& w, Line) { return c.Nak(w); }},
      {"noise-source", [](Self& c, const Args& w, Line) { return c.NoiseSource(w); }},
      {"silence", [](Self& c, const Args& w, Line) { return c.Silence(w); }},
      {"garbage", [](Self& c, const Args& w, Line) { return c.FaultEvery(w); }},
      {"truncate", [](Self& c, const Args& w, Line) { return c.FaultEvery(w); }},
      {"badlen", [](Self& c, const Args& w, Line) { return c.FaultEvery(w); }},
      {"rate", [](Self& c, const Args& w, Line) { return c.Rate(w); }},
      {"touch-rate", [](Self& c, const Args& w, Line) { return c.Rate(w); }},
      {"stream", [](Self& c, const Args& w, Line) { return c.Stream(w); }},
      {"stream-seq", [](Self& c, const Args& w, Line) { return c.StreamSwitch(w); }},
      {"opens", [](Self& c, const Args& w, Line) { return c.StreamSwitch(w); }},
      {"electrode", [](Self& c, const Args& w, Line) { return c.Electrode(w); }},
      {"touch-fault", [](Self& c, const Args& w, Line) { return c.TouchFault(w); }},
      {"panel-mm", [](Self& c, const Args& w, Line) { return c.PanelMm(w); }},
      {"calibrate-delay", [](Self& c, const Args& w, Line) { return c.CalibrateDelay(w); }},
      {"calibrate-result", [](Self& c, const Args& w, Line) { return c.CalibrateOutcome(w); }},
      {"detail", [](Self& c, const Args& w, Line) { return c.Detail(w); }},
      {"version-text", [](Self& c, const Args&, Line l) { return c.VersionText(l); }},
      {"devtext", [](Self& c, const Args&, Line l) { return c.DeviceText(l); }},
  };
  for (const auto& [name, run] : kCommands)
    if (name == a[0]) return run(*this, a, line);
  return "error: unknown command \"" + a[0] + "\" (try help)";
}

std::string ControlInterpreter::Quit() {
  quit_ = true;
  return kOk;
}

// plug, unplug, replug: every device.
std::string ControlInterpreter::Plug(const Args& a) {
  const std::string& cmd = a[0];
  std::string err;
  for (SimDevice* d : devices_) {
    if (cmd != "plug" && d->Plugged()) d->Unplug();
    if (cmd != "unplug" && !d->Plugged() && !d->Plug(err)) return "error: " + err;
  }
  return kOk;
}

std::string ControlInterpreter::Nak(const Args& a) {
  if (a.size() != 2) return "error: usage: nak <sub>|off";
  if (a[1] == "off") {
    ForAll([](SimDevice& d) { d.Controller().Faults().SetNak(std::nullopt); });
    return kOk;
  }
  auto sub = ParseInt(a[1], 16);
  if (!sub || *sub < 0 || *sub > 0xFF) return "error: sub-command must be a hex byte";
  ForAll([&](SimDevice& d) { d.Controller().Faults().SetNak(static_cast<uint8_t>(*sub)); });
  return kOk;
}

std::string ControlInterpreter::NoiseSource(const Args& a) {
  auto on = ParseOnOff(a);
  if (!on) return "error: usage: noise-source on|off";
  ForAll([&](SimDevice& d) {
    d.Controller().Defects().SetNoiseSource(*on);
    d.Controller().TouchDefectsChanged();
  });
  return kOk;
}

std::string ControlInterpreter::Silence(const Args& a) {
  auto on = ParseOnOff(a);
  if (!on) return "error: usage: silence on|off";
  ForAll([&](SimDevice& d) { d.Controller().Faults().SetSilence(*on); });
  return kOk;
}

// garbage (a burst now), garbage, truncate, badlen on|off|<n>.
std::string ControlInterpreter::FaultEvery(const Args& a) {
  const std::string& cmd = a[0];
  if (cmd == "garbage" && a.size() == 1) {
    ForAll([](SimDevice& d) { d.Send(d.Controller().Garbage()); });
    return kOk;
  }
  auto every = ParseEvery(a);
  if (!every) return "error: usage: " + cmd + " on|off|<n>";
  ForAll([&](SimDevice& d) {
    FaultInjector& f = d.Controller().Faults();
    if (cmd == "garbage") f.SetGarbageEvery(*every);
    if (cmd == "truncate") f.SetTruncateEvery(*every);
    if (cmd == "badlen") f.SetBadLenEvery(*every);
  });
  return kOk;
}

// rate <hz>|max, touch-rate <hz>.
std::string ControlInterpreter::Rate(const Args& a) {
  const std::string& cmd = a[0];
  if (a.size() != 2) return "error: usage: " + cmd + " <hz>";
  double hz = 0;
  if (!(cmd == "rate" && a[1] == "max")) {
    auto v = ParseNumber(a[1]);
    if (!v || *v <= 0 || *v > 1'000'000) return "error: rate must be a positive number";
    hz = *v;
  }
  ForAll([&](SimDevice& d) {
    if (cmd == "rate")
      d.Controller().SetStreamRate(hz);
    else
      d.Controller().SetTouchRate(hz);
  });
  return kOk;
}

std::string ControlInterpreter::Stream(const Args& a) {
  if (a.size() != 2) return "error: usage: stream <code>|off";
  if (a[1] == "off") {
    ForAll([](SimDevice& d) { d.Controller().StopStream(); });
    return kOk;
  }
  auto code = ParseInt(a[1], 16);
  if (!code || *code < 0 || *code > 0xFF) return "error: data code must be a hex byte";
  ForAll([&](SimDevice& d) { d.Controller().StartStream(static_cast<uint8_t>(*code)); });
  return kOk;
}

// stream-seq, opens on|off.
std::string ControlInterpreter::StreamSwitch(const Args& a) {
  const std::string& cmd = a[0];
  auto on = ParseOnOff(a);
  if (!on) return "error: usage: " + cmd + " on|off";
  ForAll([&](SimDevice& d) {
    if (cmd == "opens")
      d.Controller().SetOpenFault(*on);
    else
      d.Controller().SetStreamSeq(*on);
  });
  return kOk;
}

std::string ControlInterpreter::CalibrateDelay(const Args& a) {
  std::optional<long> ms = a.size() == 2 ? ParseInt(a[1]) : std::nullopt;
  if (!ms || *ms < 0 || *ms > 3'600'000) return "error: usage: calibrate-delay <ms>";
  ForAll([&](SimDevice& d) { d.Controller().SetCalibrateDelayMs(static_cast<int>(*ms)); });
  return kOk;
}

std::string ControlInterpreter::CalibrateOutcome(const Args& a) {
  std::optional<CalibrateResult> r;
  if (a.size() == 2 && a[1] == "ok") r = CalibrateResult::Ok;
  if (a.size() == 2 && a[1] == "fail") r = CalibrateResult::Fail;
  if (a.size() == 2 && a[1] == "never") r = CalibrateResult::Never;
  if (!r) return "error: usage: calibrate-result ok|fail|never";
  ForAll([&](SimDevice& d) { d.Controller().SetCalibrateResult(*r); });
  return kOk;
}

std::string ControlInterpreter::Detail(const Args& a) {
  if (a.size() != 2 || (a[1] != "8" && a[1] != "17")) return "error: usage: detail 8|17";
  ForAll([&](SimDevice& d) { d.Controller().SetDetailForm(a[1] == "8" ? 8 : 17); });
  return kOk;
}

std::string ControlInterpreter::VersionText(std::string_view line) {
  std::string text = RestAfterWord(line);
  for (SimDevice* d : devices_)
    if (!d->Controller().SetVersionText(text)) return "error: version text longer than 60";
  return kOk;
}

std::string ControlInterpreter::DeviceText(std::string_view line) {
  std::string text = RestAfterWord(line);
  ForAll([&](SimDevice& d) { d.Send(d.Controller().DeviceText(text)); });
  return kOk;
}

std::string ControlInterpreter::Touch(const std::vector<std::string>& a) {
  if (a.size() < 3) return "error: usage: touch tap|line|circle|hold|up ...";
  const std::string& kind = a[1];
  if (kind == "up") {
    if (a[2] == "all") {
      for (SimDevice* d : devices_) d->Controller().LiftAllTouches();
      return kOk;
    }
  }
  auto finger = ParseInt(a[2]);
  if (!finger || *finger < 0 || *finger >= TouchScript::kFingers)
    return "error: finger must be 0 to 9";
  int f = static_cast<int>(*finger);
  if (kind == "up") {
    for (SimDevice* d : devices_) d->Controller().LiftTouch(f);
    return kOk;
  }
  std::vector<double> n;
  for (size_t i = 3; i < a.size(); ++i) {
    auto v = ParseNumber(a[i]);
    if (!v || *v < 0) return "error: bad number \"" + a[i] + "\"";
    n.push_back(*v);
  }
  FingerPath p;
  auto ms = [](double v) { return static_cast<int64_t>(v * 1000); };
  if (kind == "tap" && (n.size() == 2 || n.size() == 3)) {
    p.kind = FingerPath::Kind::Tap;
    p.x0 = n[0];
    p.y0 = n[1];
    p.durationUs = ms(n.size() == 3 ? n[2] : 100);
  } else if (kind == "hold" && n.size() == 2) {
    p.kind = FingerPath::Kind::Hold;
    p.x0 = n[0];
    p.y0 = n[1];
  } else if (kind == "line" && (n.size() == 4 || n.size() == 5)) {
    p.kind = FingerPath::Kind::Line;
    p.x0 = n[0];
    p.y0 = n[1];
    p.x1 = n[2];
    p.y1 = n[3];
    p.durationUs = ms(n.size() == 5 ? n[4] : 500);
  } else if (kind == "circle" && n.size() >= 3 && n.size() <= 5) {
    p.kind = FingerPath::Kind::Circle;
    p.x0 = n[0];
    p.y0 = n[1];
    p.radius = n[2];
    double turns = n.size() == 5 ? n[4] : 1;
    p.turns = turns > 0 ? turns : 1;
    p.durationUs = static_cast<int64_t>(ms(n.size() >= 4 ? n[3] : 1000) * p.turns);
  } else {
    return "error: usage: touch " + kind + " (see help)";
  }
  for (SimDevice* d : devices_) d->Controller().StartTouch(f, p);
  return kOk;
}

std::string ControlInterpreter::Electrode(const std::vector<std::string>& a) {
  if (a.size() == 2 && a[1] == "off") {
    for (SimDevice* d : devices_) d->Controller().ClearElectrodeFaults();
    return kOk;
  }
  const char* usage =
      "error: usage: electrode x|y <i> noisy <amplitude>|open|short|ok, electrode off";
  if (a.size() < 4 || (a[1] != "x" && a[1] != "y")) return usage;
  ElectrodeFault f;
  f.xAxis = a[1] == "x";
  auto index = ParseInt(a[2]);
  if (!index || *index < 0) return "error: electrode index must be a number from 0";
  for (SimDevice* d : devices_) {
    const int count = f.xAxis ? d->Controller().Config().xCount : d->Controller().Config().yCount;
    if (*index >= count)
      return "error: the panel has " + std::to_string(count) + " " + (f.xAxis ? "X" : "Y") +
             " electrodes (0 to " + std::to_string(count - 1) + ")";
  }
  f.index = static_cast<int>(*index);
  if (a[3] == "noisy" && a.size() == 5) {
    auto amp = ParseInt(a[4]);
    if (!amp || *amp < 1 || *amp > 30000) return "error: amplitude must be 1 to 30000";
    f.amplitude = static_cast<int>(*amp);
  } else if (a[3] == "open" && a.size() == 4) {
    f.open = true;
  } else if (a[3] == "short" && a.size() == 4) {
    f.shorted = true;
  } else if (!(a[3] == "ok" && a.size() == 4)) {
    return usage;
  }
  for (SimDevice* d : devices_) d->Controller().SetElectrodeFault(f);
  return kOk;
}

std::string ControlInterpreter::Status() {
  std::string s = kOk;
  for (SimDevice* d : devices_) {
    const VirtualController& c = d->Controller();
    const FaultInjector& f = c.Faults();
    auto stream = c.StreamCode();
    s += " " + d->Name() + ": plugged=" + (d->Plugged() ? "1" : "0") +
         " vid=" + Hex4(c.Config().vid) + " pid=" + Hex4(c.Config().pid) +
         " iface=" + std::to_string(c.Config().iface) +
         " mode=" + (c.Config().IsDfu() ? "dfu" : "app") +
         " stream=" + (stream ? Hex2(*stream) : std::string("none")) +
         " target=" + std::to_string(c.ReportTarget()) +
         " permission=" + std::to_string(c.ReportPermission()) +
         " calibrating=" + (c.CalibrationPending() ? "1" : "0") +
         " silence=" + (f.Silence() ? "1" : "0") +
         " nak=" + (f.Nak() ? Hex2(*f.Nak()) : std::string("off")) +
         " garbage=" + std::to_string(f.GarbageEvery()) +
         " truncate=" + std::to_string(f.TruncateEvery()) +
         " badlen=" + std::to_string(f.BadLenEvery()) +
         " faulty-electrodes=" + std::to_string(c.ElectrodeFaults().size()) +
         " touch-faults=" + c.Defects().Settings().Text() +
         " noise-source=" + (c.Defects().NoiseSource() ? "on" : "off") + ";";
  }
  if (s.back() == ';') s.pop_back();
  if (generator_) s += "; generator: " + GeneratorText();
  return s;
}

std::string ControlInterpreter::Stats() {
  std::string s = kOk;
  for (SimDevice* d : devices_) {
    const auto& st = d->Controller().GetStats();
    s += " " + d->Name() + ": host=" + std::to_string(st.hostFrames) +
         " replies=" + std::to_string(st.replies) + " naks=" + std::to_string(st.naks) +
         " data=" + std::to_string(st.dataFrames) + " touch=" + std::to_string(st.touchReports) +
         " garbage=" + std::to_string(st.garbage) + " suppressed=" + std::to_string(st.suppressed) +
         " ignored=" + std::to_string(st.ignored) + " sent=" + std::to_string(d->SentCount()) +
         " dropped=" + std::to_string(d->DroppedCount()) + ";";
  }
  if (s.back() == ';') s.pop_back();
  return s;
}

}  // namespace tpcsim
