#include "cli/NoiseSweepCommand.h"

#include <poll.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>

#include "analysis/Limits.h"
#include "analysis/NoiseSweep.h"
#include "analysis/NoiseSweepPage.h"
#include "analysis/ScanAssembler.h"
#include "analysis/TestReport.h"
#include "analysis/TouchReport.h"
#include "capture/CCaptureRecorder.h"
#include "cli/Interrupt.h"
#include "cli/Reports.h"
#include "instruments/ScpiGenerator.h"

using namespace analysis;
using instruments::SignalGenerator;
using instruments::Waveform;

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kSuite = "noise-sweep";
constexpr int kGeneratorTimeoutMs = 3000;
constexpr int kDwellAttempts = 3;

double Since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Waits for Enter on standard input; false when asked to stop or the input ended.
bool AwaitEnter(std::string& error) {
  for (;;) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&in, 1, 100);
    if (Interrupted()) return false;
    if (ready <= 0) continue;
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n == 1 && c == '\n') return true;
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
      error = "standard input ended before Enter was pressed";
      return false;
    }
  }
}

// A generator set by hand: each setting asked for on the terminal, confirmed with Enter.
class ManualGenerator : public SignalGenerator {
 public:
  bool Start(std::string& identity, std::string& error) override {
    identity = "manual";
    return Ask("Switch the generator's output off and press Enter.", error);
  }
  bool Configure(Waveform w, double vpp, std::string& error) override {
    return Ask(std::string("Set the generator to a ") + instruments::WaveformName(w) + " wave of " +
                   FormatNumber(vpp) + " Vpp and press Enter.",
               error);
  }
  bool SetFrequency(double hz, std::string& error) override {
    return Ask("Set the generator to " + FrequencyText(hz) + " and press Enter.", error);
  }
  bool OutputOn(std::string& error) override {
    on_ = true;
    return Ask("Switch the generator's output on and press Enter.", error);
  }
  bool OutputOff(std::string&) override {
    if (on_) std::cerr << "Switch the generator's output off.\n" << std::flush;
    on_ = false;
    return true;
  }
  bool Lost() const override { return false; }
  std::string Address() const override { return "manual"; }

 private:
  static bool Ask(const std::string& prompt, std::string& error) {
    std::cerr << prompt << "\n" << std::flush;
    return AwaitEnter(error);
  }
  bool on_ = false;
};

// The progress of the sweep on standard error: redrawn on a terminal, a line per tenth
// otherwise. The time left is the mean time of this run's points times the points left.
class SweepProgress {
 public:
  SweepProgress(size_t total, size_t done) : total_(total), first_(done), tty_(::isatty(2) == 1) {}
  void Point(size_t done, double hz) {
    const double secs = Since(start_);
    const size_t measured = done - first_;
    const double left = measured ? secs / measured * static_cast<double>(total_ - done) : 0;
    char line[160];
    std::snprintf(line, sizeof line, "noise sweep: %zu/%zu points, %s, %s left", done, total_,
                  FrequencyText(hz).c_str(), Duration(left).c_str());
    if (tty_) {
      std::fprintf(stderr, "\r%s\033[K", line);
    } else if (done * 10 / total_ != lastTenth_ || done == total_ || measured == 1) {
      lastTenth_ = done * 10 / total_;
      std::fprintf(stderr, "%s\n", line);
    }
    std::fflush(stderr);
  }
  void End() {
    if (tty_) std::fputc('\n', stderr);
  }
  static std::string Duration(double s) {
    char b[32];
    if (s >= 3600)
      std::snprintf(b, sizeof b, "%d h %02d min", int(s / 3600), int(std::fmod(s, 3600) / 60));
    else if (s >= 60)
      std::snprintf(b, sizeof b, "%d min %02d s", int(s / 60), int(std::fmod(s, 60)));
    else
      std::snprintf(b, sizeof b, "%.0f s", s);
    return b;
  }

 private:
  size_t total_, first_;
  bool tty_;
  size_t lastTenth_ = 0;
  Clock::time_point start_ = Clock::now();
};

// The frames that arrived between fromUs and endUs (times of arrival, taken where they
// arrive, so a busy moment of this thread loses nothing and mixes no window): data reports
// into scans, coordinate reports into strokes. Earlier frames are dropped (the settling).
// False when the sweep must stop: asked to, or the controller went away (why says so).
bool Listen(ControllerSession& s, int64_t fromUs, int64_t endUs, ScanAssembler& scans,
            ElectrodeStats& stats, StrokeTracker& strokes, std::string& why) {
  TouchReport report;
  for (;;) {
    const int64_t now = ControllerSession::NowUs();
    // Past the end only what is queued already is taken.
    auto f = s.ReceiveDecoded(static_cast<int>(std::max<int64_t>(0, (endUs - now) / 1000 + 1)));
    if (Interrupted()) return false;
    if (!f) {
      if (s.LinkLost()) {
        why = s.LostMessage();
        return false;
      }
      if (ControllerSession::NowUs() >= endUs) return true;
      continue;
    }
    const int64_t at = f->arrivedUs;
    if (at >= endUs) return true;
    if (at < fromUs) continue;
    if (DecodeTouchReport(f->bytes.data(), static_cast<int>(f->bytes.size()), at, report)) {
      strokes.Add(report);
      continue;
    }
    if (f->isData && scans.Add(f->Data())) stats.Add(scans.Scan());
  }
}

// Held: waits until a finger is on the glass.
bool AwaitFinger(ControllerSession& s, double waitS, std::string& why) {
  std::cerr << "Hold one finger still on the glass until the sweep ends.\n" << std::flush;
  const auto start = Clock::now();
  TouchReport report;
  while (Since(start) < waitS) {
    int64_t at = 0;
    auto f = s.Receive(50, at);
    if (Interrupted()) return false;
    if (!f && s.LinkLost()) {
      why = s.LostMessage();
      return false;
    }
    if (f && DecodeTouchReport(f->data(), static_cast<int>(f->size()), at, report))
      for (int i = 0; i < report.count; ++i)
        if (report.contacts[i].state == TipState::kDown) return true;
  }
  why = "no finger on the glass within " + FormatNumber(waitS) + " s";
  return false;
}

// A point's values as the run's record keeps them.
void AddMeasurements(TestRecord& record, const NoisePoint& p, const ScanLayout& layout,
                     const std::vector<CheckResult>& checks) {
  const std::string group = FrequencyText(p.hz);
  auto limitOf = [&](const std::string& name, records::Measurement& m) {
    for (const CheckResult& c : checks) {
      if (c.name != name) continue;
      m.low = c.lower;
      m.high = c.upper;
      m.pass = c.pass;
    }
  };
  auto add = [&](const std::string& item, const std::string& check, std::optional<double> v,
                 const char* unit) {
    if (!v) return;
    records::Measurement m;
    m.group = group;
    m.item = item;
    m.check = check;
    m.value = v;
    m.unit = unit;
    limitOf(item.empty() ? check : item + " " + check, m);
    record.Add(std::move(m));
  };
  add("", "ghosts", p.ghosts, "");
  add("", "jitter", p.jitterMm, "mm");
  add("", "rate", p.rateHz, "Hz");
  for (size_t i = 0; i < p.electrodes.size(); ++i) {
    const std::string name = layout.Name(static_cast<int>(i));
    add(name, "stddev", p.electrodes[i].stddev, "counts");
    add(name, "p2p", p.electrodes[i].p2p, "counts");
    add(name, "snr", p.electrodes[i].snrDb, "dB");
  }
}

// A point as one JUnit test case: its failing checks, or its figures.
CheckResult CaseOf(const NoisePoint& p, const std::vector<CheckResult>& checks) {
  CheckResult c{kSuite, FrequencyText(p.hz), "", "", "", true};
  for (const CheckResult& k : checks) {
    if (k.pass) continue;
    c.pass = false;
    c.value += (c.value.empty() ? "" : "; ") + k.name + " " + k.value;
    c.limit += (c.limit.empty() ? "" : "; ") + k.name + " " + k.limit;
  }
  if (c.pass) {
    c.value = "ghosts " + std::to_string(p.ghosts) + "; noise " + FormatNumber(p.WorstStddev());
    if (p.jitterMm) c.value += "; jitter " + FormatNumber(*p.jitterMm) + " mm";
    if (auto snr = p.WorstSnrDb()) c.value += "; snr " + FormatNumber(*snr) + " dB";
  }
  return c;
}

struct Sweep {
  std::vector<double> plan;
  std::vector<NoisePoint> points;
  std::vector<std::vector<CheckResult>> checks;
  std::string identity;
  std::string stop;  // why the sweep ended early ("" finished or interrupted)
  bool outputLeftOn = false;
};

bool Pass(const std::vector<CheckResult>& checks) {
  for (const CheckResult& c : checks)
    if (!c.pass) return false;
  return true;
}

// The file the points are written to as they finish (and a resumed sweep reads).
class SweepFile {
 public:
  bool Open(const std::string& path, uint64_t keep, bool fresh, std::string& error) {
    if (path.empty()) return true;
    std::error_code ec;
    if (!fresh) std::filesystem::resize_file(path, keep, ec);
    if (ec) {
      error = path + ": " + ec.message();
      return false;
    }
    out_.open(path, fresh ? std::ios::binary | std::ios::trunc : std::ios::binary | std::ios::app);
    if (!out_) {
      error = "cannot write " + path;
      return false;
    }
    if (fresh) WriteSweepHeader(out_);
    out_.flush();
    return static_cast<bool>(out_);
  }
  void Write(const SweepSettings& s, const NoisePoint& p, const ScanLayout& layout,
             const std::vector<CheckResult>& checks) {
    if (!out_.is_open()) return;
    WriteSweepPoint(out_, s, p, layout, checks);
    out_.flush();
  }
  bool Ok() const { return !out_.is_open() || static_cast<bool>(out_); }

 private:
  std::ofstream out_;
};

}  // namespace

CLI::App* AddNoiseSweepCommand(CLI::App& app, NoiseSweepOptions& o) {
  auto* sub = app.add_subcommand(
      "noise-sweep",
      "noise immunity sweep: a signal generator driven through frequencies while the panel's "
      "noise, ghosts and jitter are measured at each; exit 0 pass, 1 fail, 2 not measured");
  sub->add_option("--generator", o.generator,
                  "tcp://HOST[:5025] (raw SCPI socket), usbtmc:/dev/usbtmc0, or manual (each "
                  "setting asked for, confirmed with Enter)")
      ->required();
  sub->add_option("--from", o.fromHz, "first frequency, Hz")->required()->check(CLI::Range(1e-3, 1e10));
  sub->add_option("--to", o.toHz, "last frequency, Hz")->required()->check(CLI::Range(1e-3, 1e10));
  auto* points = sub->add_option("--points", o.points, "number of frequencies")
                     ->check(CLI::Range(1, 1000000));
  auto* step = sub->add_option("--step", o.stepHz, "linear step, Hz")->check(CLI::Range(1e-3, 1e10));
  points->excludes(step);
  sub->add_flag("--log", o.log, "space the --points evenly on a log scale");
  sub->add_option("--amplitude", o.vpp, "amplitude, volts peak-to-peak (default 10)")
      ->check(CLI::Range(1e-3, 1000.0));
  sub->add_option("--waveform", o.waveform, "square or sine (default square)")
      ->check(CLI::IsMember({"square", "sine"}));
  sub->add_option("--settle", o.settleS, "seconds after each frequency change, not measured (0.05)")
      ->check(CLI::Range(0.0, 3600.0));
  sub->add_option("--dwell", o.dwellS, "seconds measured at each frequency (0.2)")
      ->check(CLI::Range(0.001, 3600.0));
  sub->add_option("--touch", o.touch,
                  "none: nothing on the glass, contacts are ghosts; held: one finger held still "
                  "(its jitter, its electrodes' signal-to-noise ratio) (default none)")
      ->check(CLI::IsMember({"none", "held"}));
  sub->add_option("--stream", o.stream,
                  "data stream the noise is measured on: m0-raw, m1x-raw, m1y-raw or a signal "
                  "stream (default m0-raw; m0-signal with --touch held)");
  sub->add_option("--limits", o.limits, "limits file: [noise] limits, [panel] width_mm and height_mm");
  sub->add_option("--csv", o.csv,
                  "write one row per frequency and electrode, point by point (a sweep is "
                  "resumed from this file)");
  sub->add_option("--junit", o.junit, "write a JUnit XML report (a test case per frequency)");
  sub->add_option("-o,--html", o.html, "write the sweep as one self-contained HTML page");
  sub->add_option("--resume", o.resume,
                  "continue the sweep of this file (its --csv) after its last finished point");
  sub->add_option("--wait", o.waitS, "held: seconds to wait for the finger (default 30)")
      ->check(CLI::Range(0.1, 3600.0));
  AddRecordOptions(sub, o.rec);
  return sub;
}

int RunNoiseSweep(const GlobalOptions& g, const NoiseSweepOptions& o) {
  const auto started = Clock::now();
  const bool held = o.touch == "held";
  Sweep sw;
  std::string why;
  if (!SweepFrequencies(SweepPlan{o.fromHz, o.toHz, o.points, o.stepHz, o.log}, sw.plan, why))
    return Complain(why);
  const std::string streamName = !o.stream.empty() ? o.stream : held ? "m0-signal" : "m0-raw";
  const StreamInfo* stream = FindStream(streamName);
  if (!stream || stream->partCount != 1 || stream->kind == StreamKind::kOpenShort)
    return Complain("--stream " + streamName +
                    ": a raw or signal data stream (m0-raw, m1x-raw, m1y-raw, m0-signal, ...)");
  const std::string csv = o.csv.empty() ? o.resume : o.csv;
  if (!o.resume.empty() && csv != o.resume)
    return Complain("--resume continues its own file: leave out --csv or give the same file");
  if (const std::string bad = UnwritableOutput({&o.junit, &o.html, &csv}); !bad.empty())
    return Complain(bad);
  Limits limits;
  LimitsError lerr;
  if (!o.limits.empty() && !LoadLimits(o.limits, limits, lerr))
    return Complain("bad limits file: " + lerr.Text());
  std::unique_ptr<SignalGenerator> generator;
  if (o.generator == "manual") {
    generator = std::make_unique<ManualGenerator>();
  } else {
    auto link = instruments::ScpiLink::FromAddress(o.generator, why);
    if (!link) return Complain("--generator " + why);
    generator = std::make_unique<instruments::ScpiGenerator>(std::move(link), kGeneratorTimeoutMs);
  }
  const SweepSettings settings{o.waveform, o.vpp, o.touch};

  TestRecord record(o.rec, "noise");
  int code = kExitPass;
  if (!record.Begin(o.limits, code)) return code;
  auto s = std::make_unique<ControllerSession>(g.TimeoutMs());
  if (auto rec = record.Recorder()) s->SetRecorder(rec);
  const auto opened = s->Open(g.link);
  if (opened != ControllerSession::Result::kOk)
    return Complain(s->Error(), opened == ControllerSession::Result::kInterrupted
                                    ? InterruptedExitCode()
                                    : kExitCannotRun);
  record.Opened(*s);
  const PanelInfo panel = s->Panel();
  const ScanLayout layout = ScanLayout::For(*stream, panel.xCount, panel.yCount);
  TouchGeometry geometry;
  geometry.widthMm = limits.widthMm.value_or(0);
  geometry.heightMm = limits.heightMm.value_or(0);
  geometry.xRange = panel.xRange;
  geometry.yRange = panel.yRange;
  if (held && !geometry.HasMm())
    std::cerr << "vantrel: no panel size ([panel] width_mm, height_mm) or coordinate ranges: "
                 "no jitter in millimetres\n";

  // A resumed sweep: its finished points, which must be the plan's first.
  uint64_t keep = 0;
  if (!o.resume.empty()) {
    std::ifstream in(o.resume, std::ios::binary);
    if (!in) return Complain("cannot read " + o.resume);
    if (!ReadSweepFile(in, settings, layout, sw.points, keep, why))
      return Complain(o.resume + ": " + why);
    for (size_t i = 0; i < sw.points.size(); ++i)
      if (i >= sw.plan.size() || std::fabs(sw.points[i].hz - sw.plan[i]) > 1e-6 * sw.plan[i])
        return Complain(o.resume + ": its point " + std::to_string(i + 1) + " (" +
                        FrequencyText(sw.points[i].hz) +
                        ") is not this sweep's: resume with the same --from, --to, --points, "
                        "--step and --log");
    for (const NoisePoint& p : sw.points) sw.checks.push_back(CheckPoint(p, layout, limits.noise, held));
    std::cerr << "vantrel: resuming after " << sw.points.size() << " of " << sw.plan.size()
              << " points\n";
  }
  SweepFile file;
  if (!file.Open(csv, keep, o.resume.empty(), why)) return Complain(why);

  // The sweep. Every way out of it passes the output-off below.
  const size_t first = sw.points.size();
  bool interrupted = false;
  if (first < sw.plan.size()) {
    std::string error;
    bool on = false;
    const auto stop = [&](const std::string& text) {
      sw.stop = text;
      return false;
    };
    const bool ready =
        (generator->Start(sw.identity, error) || stop(error)) &&
        (generator->Configure(o.waveform == "square" ? Waveform::kSquare : Waveform::kSine, o.vpp,
                              error) ||
         stop(error)) &&
        (!held || AwaitFinger(*s, o.waitS, error) || stop(error));
    if (ready && !Interrupted()) {
      if (o.generator != "manual")
        std::cerr << "vantrel: generator " << generator->Address() << ": " << sw.identity << "\n";
      char sub[8];
      std::snprintf(sub, sizeof sub, "%02X", stream->parts[0].subCommand);
      s->MarkStreamStarted();
      if (s->Exchange(std::string("SEND 024E02") + sub + "00 ", g.TimeoutMs(), nullptr, true) !=
          ControllerSession::Result::kOk)
        stop(s->Error());
    }
    SweepProgress progress(sw.plan.size(), first);
    ScanAssembler scans(stream->parts[0].dataCode, layout);
    for (size_t i = first; ready && sw.stop.empty() && !Interrupted() && i < sw.plan.size(); ++i) {
      const double hz = sw.plan[i];
      if (!generator->SetFrequency(hz, error)) {
        stop(error);
        break;
      }
      if (!on && !(on = generator->OutputOn(error))) {
        stop(error);
        break;
      }
      ElectrodeStats stats(layout, stream->kind);
      StrokeTracker strokes(geometry);
      // The settling and the dwell, by the frames' times of arrival.
      // A dwell the reports did not reach (a machine that stalled for a moment) is
      // measured again, a few times.
      int64_t from = ControllerSession::NowUs() + static_cast<int64_t>(o.settleS * 1e6);
      bool listening = true;
      for (int attempt = 0; attempt < kDwellAttempts && listening && stats.Scans() == 0; ++attempt) {
        scans.Reset();
        strokes = StrokeTracker(geometry);
        listening = Listen(*s, from, from + static_cast<int64_t>(o.dwellS * 1e6), scans, stats,
                           strokes, error);
        from = ControllerSession::NowUs();
      }
      if (!listening) {
        stop(error);
        break;
      }
      strokes.Finish();
      if (stats.Scans() == 0) {
        stop("no complete scan of " + std::string(stream->name) + " within the dwell of " +
             FormatNumber(o.dwellS) + " s at " + FrequencyText(hz));
        break;
      }
      NoisePoint p = MeasurePoint(hz, stats, strokes, held, o.dwellS, geometry);
      if (held && strokes.Strokes().empty()) {
        stop("the finger was lifted (no contact at " + FrequencyText(hz) + ")");
        break;
      }
      sw.checks.push_back(CheckPoint(p, layout, limits.noise, held));
      file.Write(settings, p, layout, sw.checks.back());
      sw.points.push_back(std::move(p));
      progress.Point(sw.points.size(), hz);
    }
    progress.End();
    interrupted = Interrupted();
    if (sw.stop.empty() && !interrupted && generator->Lost()) sw.stop = "the generator's connection was lost";
    // The output goes off before anything else, whatever ended the sweep.
    if (!generator->OutputOff(error)) {
      sw.outputLeftOn = true;
      std::cerr << "vantrel: THE GENERATOR'S OUTPUT MAY STILL BE ON: " << error
                << "\nvantrel: switch it off by hand\n";
    }
  }
  s->Leave();
  s.reset();
  if (!file.Ok()) std::cerr << "vantrel: " << csv << ": writing failed\n";

  // Verdicts and outputs.
  std::vector<bool> pass;
  int failedPoints = 0;
  for (const auto& c : sw.checks) {
    pass.push_back(Pass(c));
    failedPoints += pass.back() ? 0 : 1;
  }
  const bool complete = sw.points.size() == sw.plan.size();
  const std::string verdict = !complete ? "NOT MEASURED" : failedPoints ? "FAIL" : "PASS";
  std::string note = sw.stop;
  if (interrupted) note = "interrupted";
  if (!complete && note.empty()) note = "not finished";
  const double secs = Since(started);

  for (size_t i = 0; i < sw.points.size(); ++i) AddMeasurements(record, sw.points[i], layout, sw.checks[i]);
  bool kept = record.Finish(!complete ? "error" : failedPoints ? "fail" : "pass",
                            complete ? "" : note, secs) == kExitPass;

  TestReport report;
  report.Begin();
  report.name = "vantrel noise-sweep";
  report.SetProperty("generator", o.generator);
  if (!sw.identity.empty()) report.SetProperty("generator_identity", sw.identity);
  report.SetProperty("waveform", o.waveform);
  report.SetProperty("amplitude_vpp", FormatNumber(o.vpp));
  report.SetProperty("touch", o.touch);
  report.SetProperty("stream", streamName);
  report.seconds = secs;
  std::set<std::string> names;  // frequencies too close for their short text: named in full
  for (size_t i = 0; i < sw.points.size(); ++i) {
    report.checks.push_back(CaseOf(sw.points[i], sw.checks[i]));
    if (!names.insert(report.checks.back().name).second) {
      char hz[40];
      std::snprintf(hz, sizeof hz, "%.12g Hz", sw.points[i].hz);
      report.checks.back().name = hz;
    }
  }
  if (!complete) report.errors.emplace_back(kSuite, note);
  std::string error;
  bool written = true;
  if (!o.junit.empty() && !WriteJUnit(o.junit, report, error)) {
    Complain(error);
    written = false;
  }
  if (!o.html.empty()) {
    SweepPage page;
    page.verdict = verdict;
    page.facts = report.properties;
    page.facts.insert(page.facts.begin(), {"started", report.timestamp + " UTC"});
    page.facts.emplace_back("frequencies", FrequencyText(o.fromHz) + " to " + FrequencyText(o.toHz) +
                                               ", " + std::to_string(sw.plan.size()) + " points" +
                                               (o.log ? ", log" : ""));
    page.facts.emplace_back("settle / dwell", FormatNumber(o.settleS) + " s / " + FormatNumber(o.dwellS) + " s");
    page.facts.emplace_back("measured", std::to_string(sw.points.size()) + " of " +
                                            std::to_string(sw.plan.size()) + " points");
    if (!complete) page.facts.emplace_back("not measured", note);
    page.points = sw.points;
    page.pass = pass;
    page.layout = layout;
    page.limits = limits.noise;
    page.held = held;
    if (!WriteFileAtomically(o.html, NoiseSweepHtml(page), error)) {
      Complain(error);
      written = false;
    }
  }

  const auto bands = FailingBands(sw.points, pass);
  for (const auto& [a, b] : bands)
    std::cout << "FAIL band " << FrequencyText(a) << (b > a ? " to " + FrequencyText(b) : "") << "\n";
  std::cout << "\n" << verdict << ": " << sw.points.size() << " of " << sw.plan.size()
            << " frequencies measured, " << failedPoints << " failed";
  if (!complete) std::cout << " (" << note << ")";
  std::cout << "\n";
  if (sw.outputLeftOn) std::cout << "THE GENERATOR'S OUTPUT MAY STILL BE ON\n";
  if (interrupted) return InterruptedExitCode();
  if (!complete || !written || !kept) return kExitCannotRun;
  return failedPoints ? kExitFail : kExitPass;
}
