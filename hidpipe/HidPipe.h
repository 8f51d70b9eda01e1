// The library's process-wide state: the backend, the open device, the drain ring and the
// device notices.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "HidBackend.h"
#include "NoticeHub.h"
#include "ReportQueue.h"
#include "ReportWriter.h"
#include "hidpipe/hidpipe.h"

namespace hidpipe {

class HidPipe {
 public:
  static constexpr size_t kRingSize = 4096;
  // How long a send waits for the device to take its report; a write that takes longer
  // goes on in the background and the send fails with ETIMEDOUT.
  static constexpr int kWriteWaitMs = 100;
  // With the ring off, a wait without limit ends after this long (the caller asks again).
  static constexpr int kRingOffWaitMs = 100;

  // simSocket empty: hidraw devices; otherwise the simulator listening there.
  explicit HidPipe(const std::string& simSocket);
  ~HidPipe();
  HidPipe(const HidPipe&) = delete;
  HidPipe& operator=(const HidPipe&) = delete;

  // The instance behind the C API; the backend is chosen from HIDPIPE_SIM at first use.
  static HidPipe& instance();

  int open();
  int openDevice(uint32_t vid, uint32_t pid, uint32_t iface);
  int enableRecv(int on);
  int recv(uint8_t* buf, int timeoutMs);
  // As recv; returns the bytes of the report that arrived (0: none came).
  int recvReport(uint8_t* buf, int timeoutMs);
  // Wakes a recv that waits (or the next one to wait) once.
  int recvWake();
  // When the report recvReport gave last arrived (steady clock, microseconds; 0: none).
  int64_t lastReportUs() const { return lastReportUs_.load(); }
  int send(const uint8_t* frame);
  int sendLate() const { return writer_.late(); }
  // Restricts later opens to the device choice names (see deviceChosen); "" = any.
  int chooseDevice(const std::string& choice);
  // The open device; false when none is open.
  bool openedDevice(HidDeviceInfo& info) const;
  // The open device failed as a pulled one does (read or write error, hang-up).
  bool deviceGone() const;
  int closeDevice();
  int close();
  int setNoticeCallback(HidNoticeFn fn, void* user);
  uint64_t droppedReports() const { return ring_.dropped(); }
  int setDrainRing(int on);

 private:
  void closeDeviceLocked();
  void updateDrainLocked();
  void stopDrainLocked();
  void drainLoop();

  NoticeHub hub_;  // first: outlives the backend that posts to it
  std::unique_ptr<HidBackend> backend_;
  ReportWriter writer_;  // after the backend: a stuck write is abandoned first
  std::string choice_;   // under ctl_
  ReportQueue ring_{kRingSize};
  std::atomic<int64_t> lastReportUs_{0};
  int took(size_t received, int64_t at) {
    lastReportUs_.store(at);
    return int(received);
  }
  std::mutex ctl_;        // open, close, reception and ring switches
  std::mutex noticeCtl_;  // notice registration
  std::atomic<bool> devOpen_{false};
  std::atomic<bool> recvOn_{false};
  std::atomic<bool> ringOn_{true};
  std::atomic<bool> stopDrain_{false};
  bool fed_ = false;  // under ctl_: the backend feeds the ring itself
  std::thread drain_;
};

}  // namespace hidpipe
