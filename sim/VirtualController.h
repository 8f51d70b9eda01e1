// The firmware of a touch panel controller: takes host frames, answers them, and
// produces data streams and coordinate reports on the clock it is given.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "sim/ControllerConfig.h"
#include "sim/DataStream.h"
#include "sim/FaultInjector.h"
#include "sim/OutFrame.h"
#include "sim/ReplaySource.h"
#include "sim/SimClock.h"
#include "sim/TouchDefects.h"
#include "sim/TouchScript.h"

namespace tpcsim {

class VirtualController {
 public:
  static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

  struct Stats {
    uint64_t hostFrames = 0;
    uint64_t replies = 0;
    uint64_t naks = 0;
    uint64_t dataFrames = 0;
    uint64_t touchReports = 0;
    uint64_t garbage = 0;
    uint64_t suppressed = 0;  // frames silence kept back
    uint64_t ignored = 0;     // host frames not understood
    uint64_t rebases = 0;     // stream schedule restarted after falling behind
  };

  VirtualController(const SimClock& clock, ControllerConfig config);

  // One frame from the host (frame bytes only; a USB report is cut to its length
  // first). Returns what the controller sends at once.
  std::vector<OutFrame> HandleHostFrame(std::span<const uint8_t> frame);

  // Everything due by now: delayed acknowledgements, data reports, coordinate
  // reports. At most `maxFrames` data reports per call.
  std::vector<OutFrame> Poll(size_t maxFrames = 64);

  // Absolute time (clock microseconds) of the next scheduled output, kNever if none.
  // At or before now when output is due (always, while a stream runs at "max").
  int64_t NextWakeUs() const;

  // --- run-time control
  const ControllerConfig& Config() const { return config_; }
  FaultInjector& Faults() { return faults_; }
  const FaultInjector& Faults() const { return faults_; }

  void SetStreamRate(double hz);  // <= 0 means as fast as possible
  void SetTouchRate(double hz);
  void SetStreamSeq(bool on) { config_.streamSeq = on; }
  void SetCalibrateDelayMs(int ms) { config_.calibrateDelayMs = ms < 0 ? 0 : ms; }
  void SetCalibrateResult(CalibrateResult r) { config_.calibrateResult = r; }
  void SetDetailForm(int bytes) { config_.detailForm = bytes == 8 ? 8 : 17; }
  bool SetVersionText(std::string_view text);  // false when it does not fit a report
  void SetOpenFault(bool on) { openFault_ = on; }
  bool OpenFault() const { return openFault_; }
  // Makes one electrode noisy or open (replacing an earlier fault of it); ClearElectrodeFaults
  // makes every electrode sound again.
  void SetElectrodeFault(const ElectrodeFault& fault);
  void ClearElectrodeFaults() { electrodeFaults_.clear(); }
  const std::vector<ElectrodeFault>& ElectrodeFaults() const { return electrodeFaults_; }
  // Identity served after the next plug (the transport applies it).
  void SetIdentity(uint16_t pid, uint8_t iface);

  void StartStream(uint8_t code);
  void StopStream();
  std::optional<uint8_t> StreamCode() const;

  void StartTouch(int finger, const FingerPath& path);
  void LiftTouch(int finger);
  void LiftAllTouches();
  // Panel defects in the coordinate reports; call TouchDefectsChanged after a change.
  TouchDefects& Defects() { return touchDefects_; }
  const TouchDefects& Defects() const { return touchDefects_; }
  void TouchDefectsChanged();
  void SetPanelMm(double widthMm, double heightMm);
  // Noise a generator couples into the panel: data values scatter by up to counts, held
  // contacts by counts * kConductedMmPerCount mm, and ghosts contacts appear.
  static constexpr double kConductedMmPerCount = 0.01;
  void SetConducted(double counts, int ghosts);
  double ConductedCounts() const { return conductedCounts_; }

  // Device text frame (0xF5, 64 bytes) and a one-off garbage burst.
  std::vector<OutFrame> DeviceText(std::string_view text);
  std::vector<OutFrame> Garbage();

  // Serves a capture instead of the firmware (tpcsim --replay).
  void SetReplay(std::shared_ptr<ReplaySource> replay) { replay_ = std::move(replay); }

  // Unplug/replug: the firmware restarts and forgets what the host set.
  void PowerCycle();

  // A set-boot-select command asked the device to restart in the other mode; the
  // transport unplugs and plugs it with the identity Config() now holds.
  bool TakeReenumerateRequest();

  uint8_t ReportTarget() const { return target_; }
  uint8_t ReportPermission() const { return permission_; }
  bool CalibrationPending() const { return calibrateDueUs_ != kNever || calibrateNever_; }
  const Stats& GetStats() const { return stats_; }

 private:
  struct Schedule {
    int64_t baseUs = 0;
    uint64_t k = 0;
    double hz = 100;
    int64_t Due() const;
    void Restart(int64_t nowUs, uint64_t first);
  };

  void HandleControl(std::span<const uint8_t> f, std::vector<OutFrame>& out);
  void StartCalibration();
  // A control setting with parameters: whether it was taken.
  bool ApplySetting(std::span<const uint8_t> f);
  // Commands answered with a fixed payload or a plain acknowledgement; others refused.
  void AnswerFixed(uint8_t sub, std::vector<OutFrame>& out);
  void HandleDataControl(std::span<const uint8_t> f, std::vector<OutFrame>& out);
  void HandleBootLoader(std::span<const uint8_t> f, std::vector<OutFrame>& out);
  void Reply(uint8_t group, uint8_t sub, std::span<const uint8_t> payload,
             std::vector<OutFrame>& out);
  void Ack(uint8_t group, uint8_t sub, bool ok, std::vector<OutFrame>& out);
  void Emit(Bytes frame, std::vector<OutFrame>& out);
  void EmitTouches(int64_t now, std::vector<OutFrame>& out);
  Bytes VersionReply() const;
  Bytes DetailReply() const;
  int SignalBump(bool xAxis, int index) const;
  bool TouchesAllowed() const;

  const SimClock& clock_;
  ControllerConfig config_;
  FaultInjector faults_;
  TouchScript touches_;
  TouchDefects touchDefects_;
  std::optional<DataStream> stream_;
  Schedule streamSched_;
  Schedule touchSched_;
  bool touchTicking_ = false;
  uint8_t target_ = 0;
  uint8_t permission_ = 0;
  int64_t calibrateDueUs_ = kNever;
  bool calibrateOk_ = true;
  bool calibrateNever_ = false;
  bool openFault_ = false;
  double conductedCounts_ = 0;
  std::vector<ElectrodeFault> electrodeFaults_;
  uint32_t streamRuns_ = 0;
  bool reenumerate_ = false;
  Stats stats_;
  std::shared_ptr<ReplaySource> replay_;
};

}  // namespace tpcsim
