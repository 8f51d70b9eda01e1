// Backend over hidraw nodes: hidapi finds the device, the node is read and written
// directly so a send on one thread and a wait for input on another never share state.
// The node's report descriptor gives the report ids and sizes used on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceMatch.h"
#include "HidBackend.h"
#include "ReportLayout.h"
#include "UdevMonitor.h"
#include "udevwatch/WakeEvent.h"

namespace hidpipe {

class HidrawBackend : public HidBackend {
 public:
  explicit HidrawBackend(NoticeHub& hub);
  ~HidrawBackend() override;

  bool start() override;
  bool open(uint32_t vid, uint32_t pid, uint32_t iface, const std::string& choice) override;
  HidDeviceInfo opened() const override;
  void close() override;
  int write(const uint8_t* report) override;
  int read(uint8_t* report, int timeoutMs, size_t& received) override;
  bool gone() const override;
  void interrupt() override { interrupt_.signal(); }
  void clearInterrupt() override { interrupt_.clear(); }
  void hold(int ms) override;
  void setDraining(bool) override {}
  bool setNotices(bool on) override;

  std::string refusal(const uint8_t* report) const override;

  // The HID devices hidapi enumerates for this vendor and product (0 and 0: all), one
  // entry per node, with serial number and USB port, ordered by bus and node.
  static std::vector<HidDeviceInfo> enumerate(uint16_t vid, uint16_t pid);

 private:
  // The open node. Readers and the writer hold it while they use it, so a close never
  // waits for a write stuck in the kernel: the descriptor is closed when the last holder
  // lets go.
  struct Node {
    explicit Node(int f) : fd(f) {}
    ~Node();
    int fd;
    ReportLayout layout;
    HidDeviceInfo info;
    std::string noticePath;    // as device notices name it
    std::atomic<bool> gone{false};
    udevwatch::WakeEvent closing;  // readers give the node up
  };
  std::shared_ptr<Node> current() const;
  // The node failed as a pulled device does: it reads as gone, and the removal is
  // announced as udev would (once; the hub drops udev's own removal that may follow).
  void markGone(Node& node);

  NoticeHub& hub_;
  std::mutex startMutex_;
  bool started_ = false;
  mutable std::mutex nodeMutex_;
  std::shared_ptr<Node> node_;
  udevwatch::WakeEvent interrupt_;
  std::mutex noticeMutex_;
  UdevMonitor monitor_;
};

}  // namespace hidpipe
