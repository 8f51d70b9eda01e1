// One simulated device as the control channel sees it: a controller behind a
// transport that can be plugged and unplugged.
#pragma once

#include <string>
#include <vector>

#include "sim/OutFrame.h"
#include "sim/VirtualController.h"

namespace tpcsim {

class SimDevice {
 public:
  virtual ~SimDevice() = default;
  virtual VirtualController& Controller() = 0;
  virtual void Send(const std::vector<OutFrame>& frames) = 0;
  virtual bool Plug(std::string& error) = 0;
  virtual void Unplug() = 0;
  virtual bool Plugged() const = 0;
  virtual std::string Name() const = 0;  // "usb" or "serial"
  // Frames handed to the host and frames the transport had to drop.
  virtual uint64_t SentCount() const = 0;
  virtual uint64_t DroppedCount() const = 0;
};

}  // namespace tpcsim
