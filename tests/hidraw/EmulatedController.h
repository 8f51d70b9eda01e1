// A touch panel controller behind an emulated hidraw node: tpcsim's firmware engine answers
// the reports the host writes, framed as the node's report layout says, and its output comes
// back as input reports. Everything below runs on the testbed's thread under one lock.
#pragma once

#include <termios.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "HidrawTestbed.h"
#include "sim/SimClock.h"
#include "sim/VirtualController.h"

using Bytes = std::vector<uint8_t>;

// How frames travel in reports, as a device with that descriptor carries them.
enum class Framing {
  Unnumbered,  // the frame in a report without id, zero-padded
  IdIsType,    // numbered: the frame's first byte is the report id, padded to that id's size
  VendorPipe,  // numbered: the frame after the pipe's id, padded to its size
};

struct Layout {
  std::string name;
  std::vector<uint8_t> descriptor;
  Framing framing = Framing::Unnumbered;
  uint8_t pipeId = 0;                 // VendorPipe: the pipe's report id
  size_t pipeBytes = 64;              // Unnumbered, VendorPipe: bytes after the id
  std::map<uint8_t, size_t> idBytes;  // IdIsType: bytes of each id's report, the id included
  uint8_t touchId = 0;                // not 0: a digitizer input report id of the same node
  uint16_t bus = HidNodeSpec::kBusUsb;
};

class EmulatedController {
 public:
  // A digitizer report's body: a version reply a host would take for the firmware's own.
  static const Bytes kTouchMarker;

  EmulatedController(HidrawTestbed& bed, const HidNodeSpec& node, Layout layout);
  ~EmulatedController();
  EmulatedController(const EmulatedController&) = delete;
  EmulatedController& operator=(const EmulatedController&) = delete;

  const std::string& Devnode() const { return devnode_; }
  bool Attached() const { return attached_; }

  // Present false: every call on the node fails with ENODEV and a waiting reader wakes (the
  // device was pulled). True: the firmware restarts and the node answers again.
  void SetPresent(bool present);

  // The next `count` writes fail with error (count < 0: every write until cleared with 0).
  void FailWrites(int error, int count);
  // Every write fails with ETIMEDOUT after ms milliseconds, as on a device whose OUT
  // transfers stall until the kernel gives up, and the device sends nothing meanwhile (0: at
  // once again). StallsEnded counts writes whose stall has ended.
  void StallWrites(unsigned ms);
  // Every write is taken only after ms milliseconds, then answered: a device, or a host,
  // slower than the library's wait but not stalled (0: at once again).
  void SlowWrites(unsigned ms);
  // The next answer of the group and sub-command the firmware gives is lost, as the kernel
  // drops a report when its queue is full (a host too busy to read for a moment).
  void LoseAnswer(uint8_t group, uint8_t sub);
  // The kernel gives up on every write stalled so far, now rather than when its time is up.
  void EndStalls();
  size_t StallsEnded();
  size_t StallsStarted();
  size_t WritesStarted();
  // Reads fail with error and the node reads as readable, as a device the kernel lost
  // without a removal (0: reads answer again).
  void FailReads(int error);

  // Frames the host wrote, in order, cut to their length; frames the device put into reports.
  std::vector<Bytes> HostFrames();
  std::vector<Bytes> DeviceFrames();
  // Writes that were not laid out as the layout says (wrong id, wrong size).
  std::vector<std::string> Malformed();
  size_t TouchReportsSent();
  void WithFirmware(const std::function<void(tpcsim::VirtualController&)>& fn);

 private:
  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
  static gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
  static gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
  static void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
  static void OnConnectedChanged(GObject* client, GParamSpec*, gpointer self);
  static gboolean OnTick(gpointer self);
  static gboolean OnStallEnd(gpointer self);
  void EndStall(const std::pair<GSource*, UMockdevIoctlClient*>& stall);

  void HandleWrite(const uint8_t* data, size_t size);
  void Queue(const std::vector<tpcsim::OutFrame>& frames);
  bool QueueReport(Bytes report);
  void Ring();
  void Hush();

  HidrawTestbed& bed_;
  const HidNodeSpec node_;
  const Layout layout_;
  const std::string devnode_;
  tpcsim::MonotonicClock clock_;
  bool attached_ = false;
  // The node is a pseudo-terminal: a byte written to its other end makes it readable for
  // the host while reports wait; our own descriptor of the node's side takes it away.
  int bell_ = -1;
  int bellTaker_ = -1;
  UMockdevIoctlBase* handler_ = nullptr;
  GSource* tick_ = nullptr;

  std::mutex m_;
  tpcsim::VirtualController firmware_;
  bool present_ = true;
  bool rung_ = false;
  int readers_ = 0;
  unsigned ticks_ = 0;
  std::deque<Bytes> reports_;
  std::vector<Bytes> hostFrames_;
  std::vector<Bytes> deviceFrames_;
  std::vector<std::string> malformed_;
  size_t touchReports_ = 0;
  int writeError_ = 0;
  int writeErrorsLeft_ = 0;
  unsigned stallMs_ = 0;
  unsigned slowMs_ = 0;
  size_t stallsEnded_ = 0;
  size_t stallsStarted_ = 0;
  size_t writesStarted_ = 0;
  int readError_ = 0;
  std::vector<std::pair<uint8_t, uint8_t>> toLose_;  // answers (group, sub), each lost once
  std::vector<std::pair<GSource*, UMockdevIoctlClient*>> stalled_;  // writes not yet taken
};
