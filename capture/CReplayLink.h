// A link that plays a capture into the transfer controller as if it were a controller.
#pragma once

#include <atomic>
#include <memory>

#include "capture/CReplayPlayer.h"
#include "link/CTransIFBase.h"

namespace capture {

class CReplayLink : public CTransIFBase {
 public:
  explicit CReplayLink(std::shared_ptr<CReplayPlayer> player);

  // The transfer controller's link type for the capture (USB unless it is serial).
  static int LinkTypeOf(const Header& header);

  int Open(const void* settings) override;
  void Close() override;
  int32_t GetState() override { return state_.load(); }
  void SetState(int32_t state) override { state_.store(state); }
  int Read(uint8_t* buf) override;
  int Write(const uint8_t* data, int len) override;
  int GetOSType() override { return osType_; }
  int ReservedQuery1() override { return 1; }
  int ReservedQuery2() override { return 1; }
  bool WaitForInput(int ms) override;
  bool CanWaitForInput() const override { return true; }
  std::string Describe() const override;

 private:
  std::shared_ptr<CReplayPlayer> player_;
  const bool serial_;
  int osType_ = 2;
  std::atomic<int32_t> state_{kLinkClosed};
  bool firstReadTraced_ = false;  // Read runs on the receive thread only
};

}  // namespace capture
