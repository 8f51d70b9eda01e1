// USB personality: serves the hidpipe simulator socket (Unix stream socket,
// messages type | u16 LE length | payload) for one device identity.
#pragma once

#include <list>
#include <memory>
#include <string>

#include "sim/SimDevice.h"
#include "sim/SimLoop.h"
#include "sim/Trace.h"

namespace tpcsim {

class UsbSocketServer : public SimDevice {
 public:
  enum : uint8_t {
    kHello = 0x01,
    kOpen = 0x02,
    kClose = 0x03,
    kOutput = 0x04,
    kNotice = 0x81,
    kOpenResult = 0x83,
    kInput = 0x85,
  };
  static constexpr size_t kReportSize = 64;
  static constexpr size_t kMaxPayload = 1024;
  static constexpr size_t kMaxBacklog = 4 << 20;  // bytes queued per client before dropping

  UsbSocketServer(SimLoop& loop, const SimClock& clock, Trace& trace, ControllerConfig config);
  ~UsbSocketServer() override;

  // Binds and listens; a stale socket file left by an earlier run is replaced,
  // anything else at the path is refused.
  bool Listen(const std::string& path, std::string& error);

  // Device path carried by the notices: sim:<socket>#VID_xxxx&PID_xxxx&MI_xx.
  std::string NoticePath() const;

  VirtualController& Controller() override { return controller_; }
  void Send(const std::vector<OutFrame>& frames) override;
  bool Plug(std::string& error) override;
  void Unplug() override;
  bool Plugged() const override { return plugged_; }
  std::string Name() const override { return "usb"; }
  uint64_t SentCount() const override { return sent_; }
  uint64_t DroppedCount() const override { return dropped_; }

 private:
  struct Client {
    int fd = -1;
    std::string in;
    std::string out;
    bool open = false;
  };

  void Accept();
  void OnClient(Client& c, short revents);
  void HandleMessage(Client& c, uint8_t type, std::string_view payload);
  void Queue(Client& c, uint8_t type, std::string_view payload);
  void Flush(Client& c);
  void CloseClient(Client& c);
  void NoticeAll(bool arrival);
  void Service();
  int64_t NextWakeUs() const;
  size_t Backlog() const;
  bool AnyOpen() const;

  SimLoop& loop_;
  const SimClock& clock_;
  Trace& trace_;
  VirtualController controller_;
  std::string path_;
  int listenFd_ = -1;
  std::list<Client> clients_;
  bool plugged_ = true;
  int64_t replugAtUs_ = VirtualController::kNever;
  uint64_t sent_ = 0;
  uint64_t dropped_ = 0;
};

}  // namespace tpcsim
