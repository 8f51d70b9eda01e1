// Serial personality: a pseudo-terminal in raw mode whose slave device is reached
// through a symbolic link; frames travel as STX, hex text, CR.
#pragma once

#include <string>

#include "sim/SerialFrameDecoder.h"
#include "sim/SimDevice.h"
#include "sim/SimLoop.h"
#include "sim/Trace.h"

namespace tpcsim {

class SerialPtyPort : public SimDevice {
 public:
  static constexpr size_t kMaxBacklog = 64 * 1024;
  static constexpr size_t kFastBacklog = 4096;

  SerialPtyPort(SimLoop& loop, const SimClock& clock, Trace& trace, ControllerConfig config);
  ~SerialPtyPort() override;

  // Creates the pseudo-terminal and the link. An existing symbolic link at the path
  // is replaced; any other file there is refused.
  bool Open(const std::string& linkPath, std::string& error);
  const std::string& SlavePath() const { return slavePath_; }

  VirtualController& Controller() override { return controller_; }
  void Send(const std::vector<OutFrame>& frames) override;
  bool Plug(std::string& error) override;
  void Unplug() override;
  bool Plugged() const override { return masterFd_ >= 0; }
  std::string Name() const override { return "serial"; }
  uint64_t SentCount() const override { return sent_; }
  uint64_t DroppedCount() const override { return dropped_; }

 private:
  void OnMaster(short revents);
  void Flush();
  void ClosePty();
  void Service();
  int64_t NextWakeUs() const;
  bool Congested() const;

  SimLoop& loop_;
  const SimClock& clock_;
  Trace& trace_;
  VirtualController controller_;
  SerialFrameDecoder decoder_;
  std::string linkPath_;
  std::string slavePath_;
  int masterFd_ = -1;
  int slaveFd_ = -1;  // kept open so the master never sees a hang-up
  std::string out_;
  uint64_t sent_ = 0;
  uint64_t dropped_ = 0;
};

}  // namespace tpcsim
