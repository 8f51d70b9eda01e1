#include <CLI/CLI.hpp>
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
#include "analysis/SweepPoints.h"
#include "analysis/TestRun.h"
#include "analysis/TouchReport.h"
#include "capture/CCaptureRecorder.h"
#include "cli/DwellWindow.h"
#include "cli/Interrupt.h"
#include "cli/ManualGenerator.h"
#include "cli/Reports.h"
#include "cli/Subcommands.h"
#include "cli/SweepProgress.h"
#include "cli/TestRecord.h"
#include "instruments/ScpiGenerator.h"
#include "savefile/AtomicFile.h"

using namespace analysis;
using instruments::SignalGenerator;
using instruments::Waveform;

namespace {

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

using Clock = std::chrono::steady_clock;
constexpr const char* kSuite = "noise-sweep";
constexpr int kGeneratorTimeoutMs = 3000;
constexpr int kDwellAttempts = 3;

double Since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// One dwell's frames: data reports into scans, coordinate reports into strokes. False when
// the sweep must stop (why says so).
bool Listen(ControllerSession& s, const DwellWindow& w, ScanAssembler& scans,
            ElectrodeStats& stats, StrokeTracker& strokes, std::string& why) {
  SessionDwellSource source(s);
  TouchReport report;
  return CollectDwell(
      w, source,
      [&](const ControllerSession::Received& f) {
        if (DecodeTouchReport(f.bytes.data(), static_cast<int>(f.bytes.size()), f.arrivedUs,
                              report))
          strokes.Add(report);
        else if (f.isData && scans.Add(f.Data()))
          stats.Add(scans.Scan());
      },
      why);
}

// Held: waits until a finger is on the glass.
bool AwaitFinger(ControllerSession& s, double waitS, std::string& why) {
  std::cerr << "Hold one finger still on the glass until the sweep ends.\n" << std::flush;
  const auto start = Clock::now();
  TouchReport report;
  while (Since(start) < waitS) {
    int64_t at = 0;
    auto f = s.Receive(static_cast<int>((waitS - Since(start)) * 1000) + 1, at);
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

// A point's figures as the run's checks: each with the limits it was held to, where the
// limits file gives one.
void AddPointChecks(std::vector<Check>& into, const NoisePoint& p, const ScanLayout& layout,
                    const std::vector<Check>& checks) {
  const std::string group = FrequencyText(p.hz);
  auto add = [&](const std::string& item, const std::string& check, std::optional<double> v,
                 const char* unit) {
    if (!v) return;
    Check m;
    m.group = group;
    m.item = item;
    m.check = check;
    m.value = v;
    m.unit = unit;
    for (const Check& c : checks) {
      if (c.item != item || c.check != check) continue;
      m.low = c.low;
      m.high = c.high;
      m.pass = c.pass;
    }
    into.push_back(std::move(m));
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
Check CaseOf(const NoisePoint& p, const std::vector<Check>& checks) {
  Check c;
  c.group = kSuite;
  c.check = FrequencyText(p.hz);
  for (const Check& k : checks) {
    if (k.pass) continue;
    c.pass = false;
    c.text += (c.text.empty() ? "" : "; ") + k.Title() + " " + k.Shown();
    c.limitText += (c.limitText.empty() ? "" : "; ") + k.Title() + " " + k.Limit();
  }
  if (c.pass) {
    c.text = "ghosts " + std::to_string(p.ghosts) + "; noise " + FormatNumber(p.WorstStddev());
    if (p.jitterMm) c.text += "; jitter " + FormatNumber(*p.jitterMm) + " mm";
    if (auto snr = p.WorstSnrDb()) c.text += "; snr " + FormatNumber(*snr) + " dB";
  }
  return c;
}

struct Sweep {
  std::vector<double> plan;
  SweepPoints points;  // measured, with their verdicts (kept in a file, not in memory)
  std::string identity;
  std::string stop;  // why the sweep ended early ("" finished or interrupted)
  bool outputLeftOn = false;
};

bool Pass(const std::vector<Check>& checks) {
  for (const Check& c : checks)
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
             const std::vector<Check>& checks) {
    if (!out_.is_open()) return;
    WriteSweepPoint(out_, s, p, layout, checks);
    out_.flush();
  }
  bool Ok() const { return !out_.is_open() || static_cast<bool>(out_); }

 private:
  std::ofstream out_;
};

// One noise sweep: prepared (plan, stream, limits, generator), run point by point against
// the controller, then judged and reported. Every way out of the sweep switches the
// generator's output off.
class NoiseSweepRun {
 public:
  NoiseSweepRun(const GlobalOptions& g, const NoiseSweepOptions& o)
      : g_(g), o_(o), held_(o.touch == "held"), record_(o.rec, "noise") {}

  int Run() {
    if (const int code = Prepare(); code != kExitPass) return code;
    if (const int code = Open(); code != kExitPass) return code;
    if (const int code = Resume(); code != kExitPass) return code;
    if (std::string why; !file_.Open(csv_, keep_, o_.resume.empty(), why)) return Complain(why);
    if (sw_.points.Size() < sw_.plan.size()) SweepAll();
    s_->Leave();
    s_.reset();
    if (!file_.Ok()) std::cerr << "vantrel: " << csv_ << ": writing failed\n";
    return Conclude();
  }

 private:
  // The plan, the stream, the files, the limits and the generator; an exit code.
  int Prepare() {
    std::string why;
    if (!SweepFrequencies(SweepPlan{o_.fromHz, o_.toHz, o_.points, o_.stepHz, o_.log}, sw_.plan,
                          why))
      return Complain(why);
    streamName_ = !o_.stream.empty() ? o_.stream : held_ ? "m0-signal" : "m0-raw";
    stream_ = FindStream(streamName_);
    if (!stream_ || stream_->partCount != 1 || stream_->kind == StreamKind::kOpenShort)
      return Complain("--stream " + streamName_ +
                      ": a raw or signal data stream (m0-raw, m1x-raw, m1y-raw, m0-signal, ...)");
    csv_ = o_.csv.empty() ? o_.resume : o_.csv;
    if (!o_.resume.empty() && csv_ != o_.resume)
      return Complain("--resume continues its own file: leave out --csv or give the same file");
    if (const std::string bad = UnwritableOutput({&o_.junit, &o_.html, &csv_}); !bad.empty())
      return Complain(bad);
    LimitsError lerr;
    if (!o_.limits.empty() && !LoadLimits(o_.limits, limits_, lerr))
      return Complain("bad limits file: " + lerr.Text());
    if (!sw_.points.Open(why)) return Complain(why);
    if (o_.generator == "manual") {
      generator_ = std::make_unique<ManualGenerator>();
    } else {
      auto link = instruments::ScpiLink::FromAddress(o_.generator, why);
      if (!link) return Complain("--generator " + why);
      generator_ =
          std::make_unique<instruments::ScpiGenerator>(std::move(link), kGeneratorTimeoutMs);
    }
    return kExitPass;
  }

  // The run's record begun, the controller opened, the panel's layout and geometry.
  int Open() {
    int code = kExitPass;
    if (!record_.Begin(o_.limits, code)) return code;
    if (!(s_ = Connect(g_, code, record_.Recorder()))) return code;
    record_.Opened(*s_);
    const PanelInfo panel = s_->Panel();
    layout_ = ScanLayout::For(*stream_, panel.xCount, panel.yCount);
    geometry_.widthMm = limits_.widthMm.value_or(0);
    geometry_.heightMm = limits_.heightMm.value_or(0);
    geometry_.xRange = panel.xRange;
    geometry_.yRange = panel.yRange;
    if (held_ && !geometry_.HasMm())
      std::cerr << "vantrel: no panel size ([panel] width_mm, height_mm) or coordinate ranges: "
                   "no jitter in millimetres\n";
    return kExitPass;
  }

  // A resumed sweep: its finished points, which must be the plan's first.
  int Resume() {
    if (o_.resume.empty()) return kExitPass;
    std::ifstream in(o_.resume, std::ios::binary);
    if (!in) return Complain("cannot read " + o_.resume);
    std::string why, notKept, other;  // other: the first point not of this sweep
    auto add = [&](const NoisePoint& p) {
      const size_t i = sw_.points.Size();
      if (!other.empty() || !notKept.empty()) return;
      if (i >= sw_.plan.size() || std::fabs(p.hz - sw_.plan[i]) > 1e-6 * sw_.plan[i])
        other = "its point " + std::to_string(i + 1) + " (" + FrequencyText(p.hz) + ")";
      else
        sw_.points.Add(p, Pass(CheckPoint(p, layout_, limits_.noise, held_)), notKept);
    };
    if (!ReadSweepFile(in, Settings(), layout_, add, keep_, why))
      return Complain(o_.resume + ": " + why);
    if (!other.empty())
      return Complain(o_.resume + ": " + other +
                      " is not this sweep's: resume with the same --from, --to, --points, "
                      "--step and --log");
    if (!notKept.empty()) return Complain(notKept);
    std::cerr << "vantrel: resuming after " << sw_.points.Size() << " of " << sw_.plan.size()
              << " points\n";
    return kExitPass;
  }

  SweepSettings Settings() const { return SweepSettings{o_.waveform, o_.vpp, o_.touch}; }

  bool Stop(const std::string& why) {
    sw_.stop = why;
    return false;
  }

  // The generator set up, the finger on the glass (held), the stream started.
  bool Start() {
    std::string error;
    const bool ready =
        (generator_->Start(sw_.identity, error) || Stop(error)) &&
        (generator_->Configure(o_.waveform == "square" ? Waveform::kSquare : Waveform::kSine,
                               o_.vpp, error) ||
         Stop(error)) &&
        (!held_ || AwaitFinger(*s_, o_.waitS, error) || Stop(error));
    if (!ready || Interrupted()) return ready;
    if (o_.generator != "manual")
      std::cerr << "vantrel: generator " << generator_->Address() << ": " << sw_.identity << "\n";
    char sub[8];
    std::snprintf(sub, sizeof sub, "%02X", stream_->parts[0].subCommand);
    s_->MarkStreamStarted();
    if (s_->Exchange(std::string("SEND 024E02") + sub + "00 ", g_.TimeoutMs(), nullptr, true) !=
        ControllerSession::Result::kOk)
      Stop(s_->Error());
    return ready;
  }

  // The sweep from the first point not measured; the output off at its end.
  void SweepAll() {
    const size_t first = sw_.points.Size();
    const bool ready = Start();
    SweepProgress progress(sw_.plan.size(), first);
    ScanAssembler scans(stream_->parts[0].dataCode, layout_);
    bool on = false;
    for (size_t i = first; ready && sw_.stop.empty() && !Interrupted() && i < sw_.plan.size();
         ++i) {
      std::string error;
      if (!generator_->SetFrequency(sw_.plan[i], error) ||
          (!on && !(on = generator_->OutputOn(error)))) {
        Stop(error);
        break;
      }
      if (!MeasurePointAt(sw_.plan[i], scans)) break;
      progress.Point(sw_.points.Size(), sw_.plan[i]);
    }
    progress.End();
    interrupted_ = Interrupted();
    if (sw_.stop.empty() && !interrupted_ && generator_->Lost())
      sw_.stop = "the generator's connection was lost";
    // The output goes off before anything else, whatever ended the sweep.
    if (std::string error; !generator_->OutputOff(error)) {
      sw_.outputLeftOn = true;
      std::cerr << "vantrel: THE GENERATOR'S OUTPUT MAY STILL BE ON: " << error
                << "\nvantrel: switch it off by hand\n";
    }
  }

  // The settling and the dwell at one frequency, by the frames' times of arrival, and the
  // point's checks. A dwell the reports did not reach (a machine that stalled for a
  // moment) is measured again, a few times. False when the sweep stops.
  bool MeasurePointAt(double hz, ScanAssembler& scans) {
    ElectrodeStats stats(layout_, stream_->kind);
    StrokeTracker strokes(geometry_);
    int64_t from = ControllerSession::NowUs() + static_cast<int64_t>(o_.settleS * 1e6);
    bool listening = true;
    std::string error;
    for (int attempt = 0; attempt < kDwellAttempts && listening && stats.Scans() == 0;
         ++attempt) {
      scans.Reset();
      strokes = StrokeTracker(geometry_);
      const DwellWindow w{from, from + static_cast<int64_t>(o_.dwellS * 1e6), g_.TimeoutMs()};
      listening = Listen(*s_, w, scans, stats, strokes, error);
      from = ControllerSession::NowUs();
    }
    if (!listening) return Stop(error);
    strokes.Finish();
    if (stats.Scans() == 0)
      return Stop("no complete scan of " + std::string(stream_->name) + " within the dwell of " +
                  FormatNumber(o_.dwellS) + " s at " + FrequencyText(hz));
    NoisePoint p = MeasurePoint(hz, stats, strokes, held_, o_.dwellS, geometry_);
    if (held_ && strokes.Strokes().empty())
      return Stop("the finger was lifted (no contact at " + FrequencyText(hz) + ")");
    const std::vector<Check> checks = CheckPoint(p, layout_, limits_.noise, held_);
    file_.Write(Settings(), p, layout_, checks);
    return sw_.points.Add(p, Pass(checks), error) || Stop(error);
  }

  // The sweep as JUnit cases (one per frequency) with the run's facts.
  TestRun Summary() const {
    TestRun report;
    report.Begin();
    report.name = "vantrel noise-sweep";
    report.SetProperty("generator", o_.generator);
    if (!sw_.identity.empty()) report.SetProperty("generator_identity", sw_.identity);
    report.SetProperty("waveform", o_.waveform);
    report.SetProperty("amplitude_vpp", FormatNumber(o_.vpp));
    report.SetProperty("touch", o_.touch);
    report.SetProperty("stream", streamName_);
    if (o_.junit.empty()) return report;  // the cases are for the JUnit file alone
    std::set<std::string> names;  // frequencies too close for their short text: named in full
    sw_.points.ForEach([&](const NoisePoint& p, bool) {
      report.checks.push_back(CaseOf(p, CheckPoint(p, layout_, limits_.noise, held_)));
      if (!names.insert(report.checks.back().check).second) {
        char hz[40];
        std::snprintf(hz, sizeof hz, "%.12g Hz", p.hz);
        report.checks.back().check = hz;
      }
    });
    return report;
  }

  // The HTML page of the sweep; false (said) when it could not be written.
  bool WritePage(const TestRun& report, const std::string& verdict, const std::string& note) const {
    SweepPage page;
    page.verdict = verdict;
    page.facts = report.properties;
    page.facts.insert(page.facts.begin(), {"started", report.timestamp + " UTC"});
    page.facts.emplace_back("frequencies", FrequencyText(o_.fromHz) + " to " +
                                               FrequencyText(o_.toHz) + ", " +
                                               std::to_string(sw_.plan.size()) + " points" +
                                               (o_.log ? ", log" : ""));
    page.facts.emplace_back("settle / dwell",
                            FormatNumber(o_.settleS) + " s / " + FormatNumber(o_.dwellS) + " s");
    page.facts.emplace_back("measured", std::to_string(sw_.points.Size()) + " of " +
                                            std::to_string(sw_.plan.size()) + " points");
    if (sw_.points.Size() != sw_.plan.size()) page.facts.emplace_back("not measured", note);
    page.points = &sw_.points;
    page.layout = layout_;
    page.limits = limits_.noise;
    page.held = held_;
    std::string error;
    savefile::AtomicFile file;
    if (file.Open(o_.html, error) && WriteNoiseSweepHtml(file.Stream(), page) &&
        file.Commit(error))
      return true;
    Complain(error.empty() ? "cannot read the measured points back" : error);
    return false;
  }

  // Verdicts, the run kept, the reports written and the verdict said; the exit code.
  int Conclude() {
    const size_t failedPoints = sw_.points.Failed();
    const bool complete = sw_.points.Size() == sw_.plan.size();
    const std::string verdict = !complete ? "NOT MEASURED" : failedPoints ? "FAIL" : "PASS";
    std::string note = sw_.stop;
    if (interrupted_) note = "interrupted";
    if (!complete && note.empty()) note = "not finished";
    const double secs = Since(started_);
    if (record_.Keeps())
      sw_.points.ForEach([&](const NoisePoint& p, bool) {
        AddPointChecks(record_.Run().checks, p, layout_, CheckPoint(p, layout_, limits_.noise, held_));
      });
    const bool kept = record_.Finish(!complete ? "error" : failedPoints ? "fail" : "pass",
                                     complete ? "" : note, secs) == kExitPass;
    TestRun report = Summary();
    report.durationS = secs;
    if (!complete) report.errors.emplace_back(kSuite, note);
    bool written = WriteRunReports(report, o_.junit, "", "").empty();
    if (!o_.html.empty() && !WritePage(report, verdict, note)) written = false;
    for (const auto& [a, b] : FailingBands(sw_.points))
      std::cout << "FAIL band " << FrequencyText(a) << (b > a ? " to " + FrequencyText(b) : "")
                << "\n";
    std::cout << "\n" << verdict << ": " << sw_.points.Size() << " of " << sw_.plan.size()
              << " frequencies measured, " << failedPoints << " failed";
    if (!complete) std::cout << " (" << note << ")";
    std::cout << "\n";
    if (sw_.outputLeftOn) std::cout << "THE GENERATOR'S OUTPUT MAY STILL BE ON\n";
    if (interrupted_) return InterruptedExitCode();
    if (!complete || !written || !kept) return kExitCannotRun;
    return failedPoints ? kExitFail : kExitPass;
  }

  const GlobalOptions& g_;
  const NoiseSweepOptions& o_;
  const bool held_;
  const Clock::time_point started_ = Clock::now();
  TestRecord record_;
  Sweep sw_;
  std::string streamName_, csv_;
  const StreamInfo* stream_ = nullptr;
  Limits limits_;
  std::unique_ptr<SignalGenerator> generator_;
  std::unique_ptr<ControllerSession> s_;
  ScanLayout layout_;
  TouchGeometry geometry_;
  SweepFile file_;
  uint64_t keep_ = 0;
  bool interrupted_ = false;
};

}  // namespace

Subcommand AddNoiseSweepCommand(CLI::App& app, const GlobalOptions& g) {
  auto opts = std::make_shared<NoiseSweepOptions>();
  NoiseSweepOptions& o = *opts;
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
  return {sub, [&g, opts] { return NoiseSweepRun(g, *opts).Run(); }};
}
