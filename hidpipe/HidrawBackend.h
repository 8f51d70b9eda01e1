// Backend over hidraw nodes: hidapi finds the device, the node is read and written
// directly so a send on one thread and a wait for input on another never share state.
// The node's report descriptor gives the report ids and sizes used on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "DeviceMatch.h"
#include "HidBackend.h"
#include "ReportLayout.h"
#include "UdevMonitor.h"
#include "WakeEvent.h"

namespace hidpipe {

class HidrawBackend : public HidBackend {
 public:
  explicit HidrawBackend(NoticeHub& hub);
  ~HidrawBackend() override;

  bool start() override;
  bool open(uint32_t vid, uint32_t pid, uint32_t iface) override;
  void close() override;
  bool write(const uint8_t* report) override;
  int read(uint8_t* report, int timeoutMs, size_t& received) override;
  void interrupt() override { interrupt_.signal(); }
  void clearInterrupt() override { interrupt_.clear(); }
  void setDraining(bool) override {}
  bool setNotices(bool on) override;

  // The HID devices hidapi enumerates for this vendor and product (0 and 0: all), one
  // entry per node.
  static std::vector<HidDeviceInfo> enumerate(uint16_t vid, uint16_t pid);

 private:
  std::mutex startMutex_;
  bool started_ = false;
  std::shared_mutex fdMutex_;  // shared: reads and writes; exclusive: open and close
  int fd_ = -1;
  ReportLayout layout_;
  std::atomic<bool> gone_{false};
  WakeEvent interrupt_;
  WakeEvent closing_;
  std::mutex noticeMutex_;
  UdevMonitor monitor_;
};

}  // namespace hidpipe
