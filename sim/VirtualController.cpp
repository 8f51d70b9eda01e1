#include "sim/VirtualController.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace tpcsim {

namespace {
constexpr uint8_t kControl = 0x4C;
constexpr uint8_t kDataControl = 0x4E;
constexpr int64_t kMaxLagUs = 100'000;  // a stream further behind restarts its schedule
constexpr size_t kReportSize = 64;

uint16_t McuIdFor(uint16_t pid) {
  switch (pid) {
    case 0x0106:
    case 0x0107:
      return 0x0201;
    case 0x0108:
      return 0x0401;
    default:
      return 0x0101;
  }
}
}  // namespace

int64_t VirtualController::Schedule::Due() const {
  return baseUs + static_cast<int64_t>(std::llround(static_cast<double>(k) * 1e6 / hz));
}

void VirtualController::Schedule::Restart(int64_t nowUs, uint64_t first) {
  baseUs = nowUs;
  k = first;
}

VirtualController::VirtualController(const SimClock& clock, ControllerConfig config)
    : clock_(clock), config_(std::move(config)) {
  config_.valuesPerFrame = std::clamp(config_.valuesPerFrame, 1, DataStream::kMaxValuesPerFrame);
  if (!SetVersionText(config_.versionText)) config_.versionText.resize(kReportSize - 4);
  SetStreamRate(config_.streamRateMax ? 0 : config_.streamRateHz);
  SetTouchRate(config_.touchRateHz);
  PowerCycle();
}

void VirtualController::PowerCycle() {
  if (replay_) replay_->Restart();
  stream_.reset();
  calibrateDueUs_ = kNever;
  calibrateNever_ = false;
  // A serial controller has no cursor interface: its coordinates go to the host.
  target_ = config_.link == LinkKind::Serial ? 1 : 0;
  permission_ = 0;
  touches_.SetRange(config_.XRange(), config_.YRange());
  touchDefects_.SetPanel(config_.widthMm, config_.heightMm, config_.XRange(), config_.YRange());
}

void VirtualController::SetPanelMm(double widthMm, double heightMm) {
  config_.widthMm = widthMm;
  config_.heightMm = heightMm;
  touchDefects_.SetPanel(widthMm, heightMm, config_.XRange(), config_.YRange());
}

void VirtualController::SetConducted(double counts, int ghosts) {
  conductedCounts_ = counts;
  touchDefects_.SetConducted(ghosts, counts * kConductedMmPerCount);
  TouchDefectsChanged();
}

void VirtualController::TouchDefectsChanged() {
  if (touchTicking_ || !touchDefects_.NeedsReports()) return;
  touchTicking_ = true;
  touchSched_.Restart(clock_.NowUs(), 0);
}

bool VirtualController::SetVersionText(std::string_view text) {
  if (text.size() > kReportSize - 4) return false;
  config_.versionText = std::string(text);
  return true;
}

void VirtualController::SetIdentity(uint16_t pid, uint8_t iface) {
  config_.pid = pid;
  config_.iface = iface;
}

void VirtualController::SetStreamRate(double hz) {
  if (hz <= 0) {
    config_.streamRateMax = true;
  } else {
    config_.streamRateMax = false;
    config_.streamRateHz = hz;
    streamSched_.hz = hz;
  }
  streamSched_.Restart(clock_.NowUs(), 1);  // first report one period later
}

void VirtualController::SetTouchRate(double hz) {
  if (hz <= 0) return;
  config_.touchRateHz = hz;
  touchSched_.hz = hz;
  touchSched_.Restart(clock_.NowUs(), 0);
}

void VirtualController::StartStream(uint8_t code) {
  // Each run of a stream has noise of its own; the seed makes the panel.
  const uint32_t seed = config_.noiseSeed + 0x9E3779B9u * ++streamRuns_;
  stream_.emplace(code, config_.xCount, config_.yCount, config_.valuesPerFrame, seed,
                  config_.valueOffset);
  streamSched_.Restart(clock_.NowUs(), 1);  // first report one period later
}

void VirtualController::SetElectrodeFault(const ElectrodeFault& fault) {
  std::erase_if(electrodeFaults_, [&](const ElectrodeFault& f) {
    return f.xAxis == fault.xAxis && f.index == fault.index;
  });
  if (fault.open || fault.shorted || fault.amplitude > 0) electrodeFaults_.push_back(fault);
}

void VirtualController::StopStream() {
  stream_.reset();
}

std::optional<uint8_t> VirtualController::StreamCode() const {
  if (!stream_) return std::nullopt;
  return stream_->Code();
}

void VirtualController::StartTouch(int finger, const FingerPath& path) {
  int64_t now = clock_.NowUs();
  if (!touchTicking_) {
    touchTicking_ = true;
    touchSched_.Restart(now, 0);
  }
  touches_.Start(finger, path, now);
}

void VirtualController::LiftTouch(int finger) {
  touches_.Lift(finger, clock_.NowUs());
}
void VirtualController::LiftAllTouches() {
  touches_.LiftAll(clock_.NowUs());
}

bool VirtualController::TakeReenumerateRequest() {
  bool r = reenumerate_;
  reenumerate_ = false;
  return r;
}

// ---------------------------------------------------------------- output

void VirtualController::Emit(Bytes frame, std::vector<OutFrame>& out) {
  if (faults_.Silence()) {
    ++stats_.suppressed;
    return;
  }
  size_t before = out.size();
  faults_.Apply(std::move(frame), out);
  for (size_t i = before; i < out.size(); ++i)
    if (out[i].raw) ++stats_.garbage;
}

void VirtualController::Reply(uint8_t group, uint8_t sub, std::span<const uint8_t> payload,
                              std::vector<OutFrame>& out) {
  Bytes f{0x02, group, static_cast<uint8_t>(payload.size() + 1), sub};
  f.insert(f.end(), payload.begin(), payload.end());
  ++stats_.replies;
  Emit(std::move(f), out);
}

void VirtualController::Ack(uint8_t group, uint8_t sub, bool ok, std::vector<OutFrame>& out) {
  if (!ok) ++stats_.naks;
  uint8_t status = ok ? 1 : 0;
  Reply(group, sub, std::span<const uint8_t>(&status, 1), out);
}

std::vector<OutFrame> VirtualController::DeviceText(std::string_view text) {
  Bytes f(kReportSize, 0);
  f[0] = 0xF5;
  size_t n = std::min(text.size(), kReportSize - 1);
  for (size_t i = 0; i < n; ++i) f[i + 1] = static_cast<uint8_t>(text[i]);
  std::vector<OutFrame> out;
  Emit(std::move(f), out);
  return out;
}

std::vector<OutFrame> VirtualController::Garbage() {
  std::vector<OutFrame> out;
  if (faults_.Silence()) {
    ++stats_.suppressed;
    return out;
  }
  out.push_back(OutFrame{faults_.GarbageBytes(), true});
  ++stats_.garbage;
  return out;
}

Bytes VirtualController::VersionReply() const {
  const std::string& text = config_.versionText;
  Bytes f(4 + text.size());
  f[0] = 0x02;
  f[1] = kControl;
  f[2] = static_cast<uint8_t>(text.size() + 1);
  f[3] = 0x04;
  std::copy(text.begin(), text.end(), f.begin() + 4);
  return f;
}

Bytes VirtualController::DetailReply() const {
  uint16_t res = config_.resolution;
  if (config_.detailForm == 8)
    return Bytes{0x02,
                 kControl,
                 0x05,
                 0x06,
                 config_.xCount,
                 config_.yCount,
                 uint8_t(res & 0xFF),
                 uint8_t(res >> 8)};
  uint16_t xr = config_.XRange(), yr = config_.YRange();
  Bytes f{0x02,
          kControl,
          0x0E,
          0x06,
          config_.xCount,
          config_.yCount,
          uint8_t(res & 0xFF),
          uint8_t(res >> 8),
          0x00,
          uint8_t(xr & 0xFF),
          uint8_t(xr >> 8),
          uint8_t(yr & 0xFF),
          uint8_t(yr >> 8),
          0,
          0,
          0,
          0};
  return f;
}

// ---------------------------------------------------------------- input

std::vector<OutFrame> VirtualController::HandleHostFrame(std::span<const uint8_t> f) {
  std::vector<OutFrame> out;
  ++stats_.hostFrames;
  if (faults_.Silence() || f.empty()) return out;  // a silent controller hears nothing
  if (replay_) return replay_->HandleHostFrame(f);
  if (f[0] == 0xF1 || f[0] == 0xF2) {
    HandleBootLoader(f, out);
  } else if (config_.IsDfu()) {
    ++stats_.ignored;  // the loader knows no application commands
  } else if (f[0] == 0x02 && f.size() >= 4 && f[2] >= 1) {
    // Parameters end where the length byte says, never past what arrived.
    size_t len = std::min<size_t>(f.size(), f[2] + 3u);
    auto frame = f.first(len);
    if (faults_.Nak() && *faults_.Nak() == frame[3] &&
        (frame[1] == kControl || frame[1] == kDataControl)) {
      Ack(frame[1], frame[3], false, out);
    } else if (frame[1] == kControl) {
      HandleControl(frame, out);
    } else if (frame[1] == kDataControl) {
      HandleDataControl(frame, out);
    } else {
      ++stats_.ignored;
    }
  } else {
    ++stats_.ignored;
  }
  return out;
}

void VirtualController::HandleControl(std::span<const uint8_t> f, std::vector<OutFrame>& out) {
  const uint8_t sub = f[3];
  switch (sub) {
    case 0x01:  // Calibrate: answered later, or never
      StartCalibration();
      return;
    case 0x03:  // SetSampingRate
    case 0x05:  // report target
    case 0x07:  // SPI frequency
    case 0x08:  // report permission
      Ack(kControl, sub, ApplySetting(f), out);
      return;
    case 0x04:
      ++stats_.replies;
      Emit(VersionReply(), out);
      return;
    case 0x06:
      ++stats_.replies;
      Emit(DetailReply(), out);
      return;
    default:
      AnswerFixed(sub, out);
      return;
  }
}

void VirtualController::StartCalibration() {
  calibrateOk_ = config_.calibrateResult == CalibrateResult::Ok;
  calibrateNever_ = config_.calibrateResult == CalibrateResult::Never;
  calibrateDueUs_ =
      calibrateNever_ ? kNever : clock_.NowUs() + int64_t(config_.calibrateDelayMs) * 1000;
}

bool VirtualController::ApplySetting(std::span<const uint8_t> f) {
  const uint8_t sub = f[3];
  auto param = [&](size_t i) -> std::optional<uint8_t> {
    if (4 + i < f.size()) return f[4 + i];
    return std::nullopt;
  };
  if (sub == 0x03) {  // coordinate report interval in ms
    auto r = param(0);
    bool ok = r && *r >= 1;
    if (ok) SetTouchRate(1000.0 / *r);
    return ok;
  }
  if (sub == 0x05 || sub == 0x08) {  // report target / report permission
    auto p = param(0);
    bool ok = p && *p <= 1;
    if (ok) (sub == 0x05 ? target_ : permission_) = *p;
    return ok;
  }
  // SPI frequency: channel, kHz (0 = default, else 32..500)
  auto ch = param(0), lo = param(1), hi = param(2);
  bool ok = ch && lo && hi && *ch <= 1;
  if (ok) {
    int khz = *lo | (*hi << 8);
    ok = khz == 0 || (khz >= 32 && khz <= 500);
  }
  return ok;
}

void VirtualController::AnswerFixed(uint8_t sub, std::vector<OutFrame>& out) {
  struct Fixed {
    uint8_t sub;
    uint8_t len;
    uint8_t payload[3];
  };
  static constexpr Fixed kReplies[] = {
      {0x09, 2, {1, 0}},     // self test result: status, result 0 = passed
      {0x0A, 2, {1, 1}},     // driver type
      {0x91, 3, {1, 0, 0}},  // register read: status, 16-bit value
      {0x99, 2, {1, 1}},     // IGT number
      {0xB1, 3, {1, 0, 0}},  // bus error counter: status, 16-bit count
  };
  static constexpr uint8_t kAcknowledged[] = {0x92, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xB0};
  for (const Fixed& r : kReplies)
    if (r.sub == sub) {
      Reply(kControl, sub, std::span<const uint8_t>(r.payload, r.len), out);
      return;
    }
  const bool known =
      std::find(std::begin(kAcknowledged), std::end(kAcknowledged), sub) != std::end(kAcknowledged);
  Ack(kControl, sub, known, out);
}

void VirtualController::HandleDataControl(std::span<const uint8_t> f, std::vector<OutFrame>& out) {
  uint8_t sub = f[3];
  if (sub == 0x80) {
    StopStream();
    Ack(kDataControl, sub, true, out);
    return;
  }
  auto code = DataStream::CodeForSubCommand(sub);
  Ack(kDataControl, sub, code.has_value(), out);
  if (code) StartStream(*code);
}

void VirtualController::HandleBootLoader(std::span<const uint8_t> f, std::vector<OutFrame>& out) {
  if (f.size() < 2) return;
  uint8_t cmd = f[1];
  Bytes r(8, 0);
  r[0] = 0xF3;
  r[1] = cmd;
  bool dfu = config_.IsDfu();
  switch (cmd) {
    case 0x01:  // get boot select: mode, loader state, MCU id
      if (dfu) {
        uint16_t id = McuIdFor(config_.pid);
        r[3] = 1;
        r[4] = static_cast<uint8_t>(id & 0xFF);  // low nibble also reads as state 1
        r[5] = static_cast<uint8_t>(id >> 8);
      }
      break;
    case 0x02: {  // set boot select: the device restarts in the chosen mode
      uint8_t sel = f.size() > 2 ? f[2] : 0;
      if (sel == 1 && !dfu) {
        SetIdentity(0x0104, 0);
        reenumerate_ = true;
      } else if (sel == 0 && dfu) {
        SetIdentity(0x0102, 1);
        reenumerate_ = true;
      }
      return;  // no answer: the device re-enumerates instead
    }
    case 0x04:
    case 0x05:
    case 0x07:
      if (!dfu) return;
      r[2] = 1;
      break;
    case 0x06:
      if (!dfu) return;
      r.assign(kReportSize, 0xFF);
      r[0] = 0xF4;
      r[1] = cmd;
      break;
    default:
      ++stats_.ignored;
      return;
  }
  ++stats_.replies;
  Emit(std::move(r), out);
}

// ---------------------------------------------------------------- timed output

bool VirtualController::TouchesAllowed() const {
  return target_ == 1 && permission_ == 0;
}

int VirtualController::SignalBump(bool xAxis, int index) const {
  int64_t now = clock_.NowUs();
  int bump = 0;
  for (int i = 0; i < TouchScript::kFingers; ++i) {
    auto p = touches_.Position(i, now);
    if (!p) continue;
    int centre = (xAxis ? p->x : p->y) * (xAxis ? config_.xCount : config_.yCount) /
                 std::max<int>(xAxis ? config_.XRange() : config_.YRange(), 1);
    int d = std::abs(index - centre);
    if (d <= 2) bump += 150 - d * 50;
  }
  return bump;
}

void VirtualController::EmitTouches(int64_t now, std::vector<OutFrame>& out) {
  std::array<TouchScript::Sample, TouchScript::kFingers> taken{};
  std::vector<TouchScript::Sample> s(taken.begin(), taken.begin() + touches_.Take(now, taken));
  if (!touchDefects_.Apply(now, s) || !TouchesAllowed()) return;
  if (s.size() > TouchScript::kFingers) s.resize(TouchScript::kFingers);  // 64-byte report
  const int n = static_cast<int>(s.size());
  if (config_.link == LinkKind::Usb) {
    Bytes f{0x02, 0x4D, static_cast<uint8_t>(1 + 6 * n), static_cast<uint8_t>(n)};
    for (int i = 0; i < n; ++i) {
      uint8_t code = s[i].phase == TouchScript::Phase::Down     ? 7
                     : s[i].phase == TouchScript::Phase::Lifted ? 4
                                                                : 0;
      f.insert(f.end(),
               {code, static_cast<uint8_t>(s[i].finger), static_cast<uint8_t>(s[i].point.x & 0xFF),
                static_cast<uint8_t>(s[i].point.x >> 8), static_cast<uint8_t>(s[i].point.y & 0xFF),
                static_cast<uint8_t>(s[i].point.y >> 8)});
    }
    ++stats_.touchReports;
    Emit(std::move(f), out);
    return;
  }
  // Serial: one single-touch report per finger, on the fixed 0..1024 scale; bit 2
  // (pen) marks any finger but the first.
  for (int i = 0; i < n; ++i) {
    if (s[i].phase == TouchScript::Phase::Cleared) continue;
    bool down = s[i].phase == TouchScript::Phase::Down;
    auto x = static_cast<uint16_t>(s[i].point.x * 1024 / std::max<int>(config_.XRange(), 1));
    auto y = static_cast<uint16_t>(s[i].point.y * 1024 / std::max<int>(config_.YRange(), 1));
    uint16_t z = down ? 200 : 0;
    uint8_t flags = static_cast<uint8_t>((down ? 0x01 : 0x00) | (s[i].finger != 0 ? 0x04 : 0x00));
    Bytes f{0x01,
            flags,
            static_cast<uint8_t>(x & 0xFF),
            static_cast<uint8_t>(x >> 8),
            static_cast<uint8_t>(y & 0xFF),
            static_cast<uint8_t>(y >> 8),
            static_cast<uint8_t>(z & 0xFF),
            static_cast<uint8_t>(z >> 8)};
    ++stats_.touchReports;
    Emit(std::move(f), out);
  }
}

std::vector<OutFrame> VirtualController::Poll(size_t maxFrames) {
  if (replay_) return replay_->Poll(maxFrames);
  std::vector<OutFrame> out;
  int64_t now = clock_.NowUs();

  if (calibrateDueUs_ != kNever && now >= calibrateDueUs_) {
    calibrateDueUs_ = kNever;
    Ack(kControl, 0x01, calibrateOk_, out);
  }

  if (touchTicking_) {
    // A report the loop woke late for is sent late, not skipped: the panel's scan clock
    // does not depend on the host. Far behind, the schedule starts again.
    if (now >= touchSched_.Due()) {
      EmitTouches(now, out);
      ++touchSched_.k;
      if (now - touchSched_.Due() > kMaxLagUs) touchSched_.Restart(now, 1);
    }
    if (!touches_.AnyActive() && !touchDefects_.NeedsReports()) touchTicking_ = false;
  }

  if (stream_) {
    if (!config_.streamRateMax && now - streamSched_.Due() > kMaxLagUs) {
      streamSched_.Restart(now, 1);
      ++stats_.rebases;
    }
    DataStream::BumpFn bump = [this](bool xAxis, int i) { return SignalBump(xAxis, i); };
    stream_->SetConducted(conductedCounts_);
    for (size_t n = 0; n < maxFrames; ++n) {
      if (!config_.streamRateMax) {
        if (streamSched_.Due() > now) break;
        ++streamSched_.k;
      }
      std::optional<int64_t> stamp;
      if (config_.streamSeq) stamp = clock_.NowUs();
      ++stats_.dataFrames;
      Emit(stream_->Next(stamp, bump, openFault_, electrodeFaults_), out);
    }
  }
  return out;
}

int64_t VirtualController::NextWakeUs() const {
  if (replay_) return replay_->NextWakeUs();
  int64_t next = calibrateDueUs_;
  if (touchTicking_) next = std::min(next, touchSched_.Due());
  if (stream_) next = std::min(next, config_.streamRateMax ? clock_.NowUs() : streamSched_.Due());
  return next;
}

}  // namespace tpcsim
