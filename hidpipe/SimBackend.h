// Backend over the simulator's Unix socket (see README.md for the protocol).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <thread>

#include "HidBackend.h"
#include "NoticePath.h"
#include "ReadPace.h"
#include "ReportQueue.h"
#include "SimMessage.h"
#include "udevwatch/WakeEvent.h"

namespace hidpipe {

class NoticeHub;

class SimBackend : public HidBackend {
 public:
  SimBackend(std::string socketPath, NoticeHub& hub);
  ~SimBackend() override;

  bool start() override;
  bool open(uint32_t vid, uint32_t pid, uint32_t iface, const std::string& choice) override;
  HidDeviceInfo opened() const override;
  void close() override;
  int write(const uint8_t* report) override;
  int read(uint8_t* report, int timeoutMs, size_t& received) override;
  int64_t lastArrivalUs() const override { return lastArrivalUs_; }
  void interrupt() override { devQueue_.interrupt(); }
  void clearInterrupt() override { devQueue_.clearInterrupt(); }
  void setDraining(bool on) override { draining_ = on; }
  bool feedRing(ReportQueue* ring) override;
  bool setNotices(bool on) override;

  // Device queue size of the simulated hidraw node.
  static constexpr size_t kDeviceQueue = 64;

 private:
  enum class OpenOutcome { Opened, Refused, ConnectionLost };

  // announcePresent: devices present on this connection are reported as arrivals.
  bool ensureConnected(bool announcePresent = false);
  int connectSocket() const;
  OpenOutcome openOnce(uint32_t vid, uint32_t pid, uint32_t iface);
  bool sendMessage(uint8_t type, std::span<const uint8_t> payload);
  void run();
  // Reads what the socket holds and handles its messages; returns the input reports among
  // them. more: the read filled its buffer (the socket may hold more).
  size_t readSocket(int fd, SimStreamParser& parser, SimMessage& msg, bool& more);
  void handle(const SimMessage& msg);
  void handleNotice(const SimMessage& msg);
  void disconnect(int fd);
  // A reader waiting on the ring hears that the device went away.
  void wakeRing();

  const std::string path_;
  NoticeHub& hub_;
  udevwatch::WakeEvent wake_;
  std::mutex writeMutex_;  // serialises socket writes and connecting; taken before m_
  mutable std::mutex m_;
  std::condition_variable cv_;
  int fd_ = -1;
  uint64_t connection_ = 0;  // counts connections made
  bool announcePresent_ = false;
  bool stop_ = false;
  bool wantNotices_ = false;
  bool opening_ = false;
  int openResult_ = -1;
  bool devOpen_ = false;
  DeviceIdentity openId_;
  HidDeviceInfo opened_;
  std::set<std::string> plugged_;  // devices announced on this connection
  std::atomic<bool> draining_{false};
  ReportQueue devQueue_{kDeviceQueue};
  ReportQueue* ring_ = nullptr;  // under m_: where reports go instead of devQueue_
  int64_t lastArrivalUs_ = 0;  // of the last report read (by its one reader)
  std::thread thread_;
};

}  // namespace hidpipe
