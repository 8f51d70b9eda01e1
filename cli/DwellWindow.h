// One dwell of the noise sweep: the frames that arrived within its window, taken by the
// times of arrival stamped where they arrived, however late they are handed over.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "cli/ControllerSession.h"

// Where a dwell's frames come from: the controller session (or a test's frames).
class DwellSource {
 public:
  virtual ~DwellSource() = default;
  // The next frame in order of arrival, waiting up to timeoutMs; nothing when none came.
  virtual std::optional<ControllerSession::Received> Next(int timeoutMs) = 0;
  // After Next gave nothing: true when the controller went away (why says so).
  virtual bool Lost(std::string& why) = 0;
};

// The session's frames, a stream's batch at a time.
class SessionDwellSource : public DwellSource {
 public:
  explicit SessionDwellSource(ControllerSession& s) : s_(s) {}
  std::optional<ControllerSession::Received> Next(int timeoutMs) override;
  bool Lost(std::string& why) override;

 private:
  ControllerSession& s_;
};

struct DwellWindow {
  int64_t fromUs = 0, endUs = 0;  // microseconds of the steady clock
  int lateMs = 0;  // a source silent this long after endUs ends the window without a frame
};

// Hands `take` every frame that arrived in [fromUs, endUs); earlier ones (the settling) are
// dropped. The first frame from after endUs ends the window, however late it is handed
// over. False when the sweep must stop: asked to, or the controller went away (why says so).
bool CollectDwell(const DwellWindow& w, DwellSource& source,
                  const std::function<void(const ControllerSession::Received&)>& take,
                  std::string& why);
