#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include "analysis/Limits.h"
#include "analysis/TestRun.h"
#include "analysis/TouchTests.h"
#include "capture/CCaptureRecorder.h"
#include "capture/CaptureFile.h"
#include "cli/Interrupt.h"
#include "cli/Reports.h"
#include "cli/Subcommands.h"
#include "cli/TestRecord.h"
#include "link/FrameCodec.h"

using namespace analysis;

namespace {

struct TouchOptions {
  std::string test;    // ghost, rate, jitter, linearity, accuracy, contacts, separation
  std::string limits;  // limits file; without one the defaults
  std::string junit, csv;
  std::string replay;    // a capture to score instead of a controller
  std::string truth;     // CSV of true positions (accuracy)
  RecordOptions rec;     // where a live run is kept, and its capture file
  double seconds = 0;    // 0: the test's own length
  double waitS = 30;     // longest wait for the first touch
  bool noNoise = false;  // ghost: no window with the noise raised
};

constexpr double kSerialRange = 1024;      // single-touch reports use a fixed scale
constexpr int64_t kIdleEndUs = 1'500'000;  // no contact for this long ends a free run

// The panel's coordinate ranges from a panel information reply.
bool FrameRanges(const capture::Frame& f, double& xRange, double& yRange) {
  PanelInfo p;
  if (f.dir == capture::Direction::kDeviceToHost && f.bytes.size() >= 4 && f.bytes[1] == 0x4C &&
      f.bytes[3] == 0x06 &&
      FrameCodec::ParsePanelInfo(f.bytes.data(), static_cast<int>(f.bytes.size()), p) ==
          FrameCodec::PanelResult::kValid &&
      p.xRange > 0 && p.yRange > 0) {
    xRange = p.xRange;
    yRange = p.yRange;
    return true;
  }
  return false;
}

// The ranges from a capture header's "panel:" line.
bool HeaderRanges(const capture::Header& h, double& xRange, double& yRange) {
  int xr = 0, yr = 0;
  const size_t at = h.panel.find("xrange=");
  if (at == std::string::npos ||
      std::sscanf(h.panel.c_str() + at, "xrange=%d yrange=%d", &xr, &yr) != 2 || xr <= 0 || yr <= 0)
    return false;
  xRange = xr;
  yRange = yr;
  return true;
}

// The test's prompt, with the length of the window asked for ("for 10 s").
std::string PromptFor(const TouchTestInfo& info, double seconds) {
  std::string prompt = info.prompt;
  const std::string given = "for " + FormatNumber(info.seconds) + " s";
  const size_t at = prompt.find(given);
  if (at != std::string::npos)
    prompt.replace(at, given.size(), "for " + FormatNumber(seconds) + " s");
  return prompt;
}

// A live window: the prompt, then the reports until the test has what it needs.
int Collect(ControllerSession& s, const TouchTestInfo& info, double seconds, double waitS,
            StrokeTracker& tracker, std::string& error) {
  std::cerr << PromptFor(info, seconds) << "\n" << std::flush;
  const int64_t startUs = ControllerSession::NowUs();
  const auto us = [](double sec) { return static_cast<int64_t>(sec * 1e6); };
  int64_t firstDown = -1, lastDown = startUs;
  bool liftAsked = false;
  TouchReport report;
  for (;;) {
    int64_t now = 0;
    auto f = s.Receive(50, now);
    if (Interrupted()) return kExitInterrupted;
    if (!f && s.LinkLost()) {  // no reports from a controller that is gone prove nothing
      error = s.LostMessage();
      return kExitCannotRun;
    }
    if (!f) now = ControllerSession::NowUs();
    if (f && DecodeTouchReport(f->data(), static_cast<int>(f->size()), now, report)) {
      tracker.Add(report);
      if (tracker.AnyDown()) {
        lastDown = now;
        if (firstDown < 0) firstDown = now;
      }
    }
    if (!info.touches) {
      if (now - startUs >= us(seconds)) return kExitPass;
      continue;
    }
    if (firstDown < 0) {
      if (now - startUs >= us(waitS)) {
        error = "no touch within " + FormatNumber(waitS) + " s";
        return kExitCannotRun;
      }
      continue;
    }
    const bool down = tracker.AnyDown();
    if (info.test == TouchTest::kJitter) {
      if (!down && !tracker.Strokes().empty() && now - firstDown >= us(0.5)) return kExitPass;
      if (now - firstDown >= us(seconds) && !liftAsked) {
        std::cerr << "Lift now.\n" << std::flush;
        liftAsked = true;
      }
      if (now - firstDown >= us(seconds + 5)) return kExitPass;
      continue;
    }
    if (!down && now - lastDown >= kIdleEndUs) return kExitPass;
    if (now - firstDown >= us(seconds)) return kExitPass;
  }
}

// Asks for the noise source and waits for Enter, dropping the reports meanwhile.
// kExitPass once confirmed; kExitCannotRun when standard input ends first.
int AwaitNoise(ControllerSession& s, const char* prompt, std::string& error) {
  std::cerr << prompt << "\n" << std::flush;
  const EnterResult r = AwaitEnterKey();
  int64_t now = 0;
  while (s.Receive(0, now)) {  // what came meanwhile belongs to no window
  }
  if (r == EnterResult::kInterrupted) return kExitInterrupted;
  if (r == EnterResult::kPressed) return kExitPass;
  error = "the noise source was not confirmed (Enter); --no-noise leaves this window out";
  return kExitCannotRun;
}

// A window of a run, scored on its own: the test's, and for the ghost test a second one
// while the controller's noise is raised. Its checks form a suite of their own.
struct Window {
  std::string name;  // "ghost", "ghost-noise"
  bool raisedNoise = false;
  std::unique_ptr<StrokeTracker> tracker;
};

// Touch reports of one window scored at most: a window of a touch test holds far fewer;
// a capture with more (a decompression bomb) is refused, memory stays bounded.
constexpr uint64_t kMaxWindowReports = 500000;

// Scores a capture read as a stream: the coordinate ranges from it (its panel information
// reply, else its header's "panel:" line), then each window's reports. A window is the
// frames from the mark of its name to the next mark; the test's own window without a mark
// is the frames before the first mark (all of them in a capture without marks).
int ScoreCapture(const std::string& path, TouchGeometry& geometry, std::vector<Window>& windows,
                 std::map<std::string, std::string>& errors, std::string& error) {
  bool ranged = false;
  uint64_t frames = 0;
  const capture::ParseResult head = capture::ScanCapture(path, [&](const capture::Frame& f) {
    ++frames;
    ranged = FrameRanges(f, geometry.xRange, geometry.yRange);
    return !ranged;
  });
  if (frames == 0) {
    error = path + ": " + (head.Ok() ? "no frame" : head.error);
    return kExitCannotRun;
  }
  if (head.header.link == capture::LinkKind::kSerial) {
    geometry.xRange = geometry.yRange = kSerialRange;
  } else if (!ranged && !HeaderRanges(head.header, geometry.xRange, geometry.yRange)) {
    error = path + ": no panel information (coordinate ranges) in the capture";
    return kExitCannotRun;
  }
  std::map<std::string, std::unique_ptr<StrokeTracker>> marked;
  auto before = std::make_unique<StrokeTracker>(geometry);
  StrokeTracker* into = before.get();
  uint64_t reports = 0;
  TouchReport report;
  const capture::ParseResult cap = capture::ScanCapture(
      path,
      [&](const capture::Frame& f) {
        if (!into || f.dir != capture::Direction::kDeviceToHost ||
            !DecodeTouchReport(f.bytes.data(), static_cast<int>(f.bytes.size()), f.us, report))
          return true;
        into->Add(report);
        return ++reports <= kMaxWindowReports;
      },
      [&](const std::string& mark) {
        into = nullptr;
        reports = 0;
        for (const Window& w : windows)
          if (w.name == mark)
            into = (marked[mark] = std::make_unique<StrokeTracker>(geometry)).get();
      });
  if (reports > kMaxWindowReports) {
    error = path + ": more than " + std::to_string(kMaxWindowReports) +
            " touch reports in one window: not a touch test session";
    return kExitCannotRun;
  }
  if (!cap.Ok()) std::cerr << "vantrel: " << path << ": " << cap.error << " (scored up to there)\n";
  for (Window& w : windows) {
    if (auto m = marked.find(w.name); m != marked.end()) {
      w.tracker = std::move(m->second);
    } else if (&w == &windows.front()) {
      w.tracker = std::move(before);
    } else {
      errors[w.name] =
          "the capture holds no \"" + w.name + "\" window (no \"# mark: " + w.name + "\" line)";
    }
  }
  return kExitPass;
}

// Runs each window against the controller, recording a mark at its start and end.
int RunLive(const GlobalOptions& g, const TouchOptions& t, const TouchTestInfo& info,
            double seconds, TouchGeometry& geometry, std::vector<Window>& windows,
            std::map<std::string, std::string>& errors, TestRecord& record, std::string& why) {
  int code = kExitPass;
  if (!record.Begin(t.limits, code)) {
    why = "the run could not be prepared for its record";
    return code;
  }
  const std::shared_ptr<capture::CCaptureRecorder> recorder = record.Recorder();
  auto s = std::make_unique<ControllerSession>(g.TimeoutMs());
  if (recorder) s->SetRecorder(recorder);
  const auto r = s->Open(g.link);
  if (r != ControllerSession::Result::kOk) {
    why = s->Error();
    Complain(why);
    return r == ControllerSession::Result::kInterrupted ? kExitInterrupted : kExitCannotRun;
  }
  record.Opened(*s);
  const PanelInfo p = s->Panel();
  const bool serial = s->LinkType() == kLinkCom;
  geometry.xRange = serial ? kSerialRange : p.xRange;
  geometry.yRange = serial ? kSerialRange : p.yRange;
  if (!serial && (p.xRange == 0 || p.yRange == 0))
    std::cerr << "vantrel: the controller reported no coordinate ranges: no millimetres\n";
  bool noiseAsked = false;
  for (Window& w : windows) {
    w.tracker = std::make_unique<StrokeTracker>(geometry);
    if (s->LinkLost()) {  // nobody is asked to do anything for a controller that is gone
      errors[w.name] = s->LostMessage();
      continue;
    }
    std::string error;
    if (w.raisedNoise) {
      noiseAsked = true;
      code = AwaitNoise(*s, info.noisePrompt, error);
    }
    if (code == kExitPass) {
      if (recorder) recorder->Note("mark", w.name);
      const uint64_t droppedBefore = s->DroppedFrames();
      code = Collect(*s, info, seconds, t.waitS, *w.tracker, error);
      if (recorder) recorder->Note("mark", "end");
      // A report lost on the way is no gap of the panel, and may have been a ghost.
      if (const uint64_t lost = s->DroppedFrames() - droppedBefore; code == kExitPass && lost) {
        error = std::to_string(lost) +
                " report(s) were lost before they could be read (the "
                "host was too slow): the window cannot be measured";
        code = kExitCannotRun;
      }
    }
    if (code == kExitInterrupted) {
      why = "interrupted";
      break;
    }
    if (code != kExitPass) errors[w.name] = error;
    code = kExitPass;
  }
  if (noiseAsked) std::cerr << "Switch the noise source off.\n" << std::flush;
  s->Leave();
  s.reset();
  return code;
}

// The true positions of an accuracy test; false with why.
bool LoadTruth(const std::string& path, TouchTruth& truth, std::string& why) {
  if (path.empty()) return true;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (truth.Parse(text.str(), why)) return true;
  why = path + ": " + why;
  return false;
}

// What keeps a test from running before anything is measured: no millimetres where they
// are needed, no true positions for the accuracy test.
void CheckPrerequisites(const TouchTestInfo& info, const TouchGeometry& geometry,
                        const TouchTruth& truth, std::map<std::string, std::string>& errors) {
  if (!geometry.widthMm || !geometry.heightMm) {
    std::cerr << "vantrel: no panel size ([panel] width_mm, height_mm): only the rate, ghost "
                 "and contacts tests can run\n";
    if (info.needsMm) errors[info.name] = "needs the panel size: [panel] width_mm and height_mm";
  }
  if (info.test == TouchTest::kAccuracy && truth.Empty())
    errors[info.name] = "needs the true positions: --truth FILE";
}

// Each window's strokes scored against the limits, into checks.
void ScoreWindows(const TouchTestInfo& info, std::vector<Window>& windows,
                  const TouchGeometry& geometry, const Limits& limits, const TouchTruth& truth,
                  std::vector<Check>& checks, std::map<std::string, std::string>& errors) {
  for (Window& w : windows) {
    if (!w.tracker || errors.count(w.name)) continue;
    w.tracker->Finish();
    // Time 0 of the true path is the first touch, live and in a capture alike.
    const auto& strokes = w.tracker->Strokes();
    const int64_t startUs = strokes.empty() ? 0 : strokes.front().points.front().us;
    TouchRun run{w.tracker.get(), geometry, limits.touch, &truth, startUs, w.raisedNoise};
    std::string why;
    if (!EvaluateTouch(info.test, run, checks, why)) errors[w.name] = why;
  }
}

// The table on standard output, the JUnit and CSV reports asked for (a JUnit test case
// per stroke or contact), and the verdict; the exit code.
int Report(const TouchOptions& t, TestRun& run, const std::map<std::string, std::string>& errors,
           int early) {
  run.Begin();
  run.name = "vantrel touch";
  run.casePerItem = true;
  for (const auto& [group, why] : errors) run.errors.emplace_back(group, why);
  WriteChecksTable(std::cout, run);
  const std::string error = WriteRunReports(run, t.junit, t.csv, "");
  if (!errors.empty() || !error.empty()) {
    std::cout << "\nNOT RUN: " << Printable(errors.empty() ? error : errors.begin()->second)
              << "\n";
    return early != kExitPass ? early : kExitCannotRun;
  }
  if (const int failed = run.Failed(); failed > 0) {
    std::cout << "\nFAIL: " << failed << " of " << run.checks.size() << " checks failed\n";
    return kExitFail;
  }
  std::cout << "\nPASS: " << run.checks.size() << " checks\n";
  return kExitPass;
}

int RunTouch(const GlobalOptions& g, const TouchOptions& given) {
  TouchOptions t = given;
  if (std::string why; !ExpandRunNames(t.rec, {&t.junit, &t.csv, &t.rec.record}, why))
    return Complain(why);
  const auto started = std::chrono::steady_clock::now();
  const TouchTestInfo* info = FindTouchTest(t.test);
  if (!info)
    return Complain("unknown touch test \"" + t.test + "\" (known: " + TouchTestNames() + ")");
  // The reports asked for can be written: found before anyone is asked to touch.
  if (const std::string why = UnwritableOutput({&t.junit, &t.csv}); !why.empty())
    return Complain(why);
  Limits limits;
  LimitsError lerr;
  if (!t.limits.empty() && !LoadLimits(t.limits, limits, lerr))
    return Complain("bad limits file: " + lerr.Text());
  TouchTruth truth;
  if (std::string why; !LoadTruth(t.truth, truth, why)) return Complain(why);

  TouchGeometry geometry;
  geometry.widthMm = limits.widthMm.value_or(0);
  geometry.heightMm = limits.heightMm.value_or(0);
  std::map<std::string, std::string> errors;
  CheckPrerequisites(*info, geometry, truth, errors);
  const double seconds = t.seconds > 0 ? t.seconds : info->seconds;

  std::vector<Window> windows;
  windows.push_back({info->name, false, nullptr});
  if (info->noisePrompt && !t.noNoise) windows.push_back({kGhostNoiseSuite, true, nullptr});
  // A live run is kept with the unit's records; a capture scored again is no new run.
  const bool live = t.replay.empty();
  TestRecord record(t.rec, "touch");
  // A run that ends early still writes its reports (the last unit's never stay) and, once
  // begun, is kept as not measured.
  int early = kExitPass;
  if (errors.empty()) {
    std::string why;
    early = live ? RunLive(g, t, *info, seconds, geometry, windows, errors, record, why)
                 : ScoreCapture(t.replay, geometry, windows, errors, why);
    if (early != kExitPass) {
      if (!live) Complain(why);
      errors.clear();
      errors[info->name] = why.empty() ? "could not run" : why;
      for (Window& w : windows) w.tracker.reset();
    }
  }
  TestRun& run = record.Run();
  ScoreWindows(*info, windows, geometry, limits, truth, run.checks, errors);
  run.durationS = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (live && record.Begun() && record.Measured()) {
    const std::string note =
        errors.empty() ? "" : errors.begin()->first + ": " + errors.begin()->second;
    // What was asked for and not kept (the capture, the record) leaves the run unfinished.
    if (record.Finish(!note.empty()  ? "error"
                      : run.Failed() ? "fail"
                                     : "pass",
                      note, run.durationS, {&t.junit, &t.csv}) != kExitPass &&
        errors.empty())
      errors[windows.front().name] = "the run's capture or record could not be kept (see above)";
  }
  SetDeviceProperties(run, record.Device());
  return Report(t, run, errors, early);
}
}  // namespace

Subcommand AddTouchCommand(CLI::App& app, const GlobalOptions& g) {
  auto o = std::make_shared<TouchOptions>();
  TouchOptions& to = *o;
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
  touch
      ->add_option("--seconds", to.seconds,
                   "length of the test, of each window for ghost (default: the test's own)")
      ->check(CLI::Range(0.1, 3600.0));
  touch->add_flag("--no-noise", to.noNoise,
                  "ghost: leave out the window with the noise source on (asked for with Enter)");
  touch->add_option("--wait", to.waitS, "seconds to wait for the first touch (default 30)")
      ->check(CLI::Range(0.1, 3600.0));
  return {touch, [&g, o] { return RunTouch(g, *o); }};
}
