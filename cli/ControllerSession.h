// One connection of the command-line program to a controller: opens the link the way
// VantrelTool does (configuration file, or an explicit USB identity or serial device),
// waits for the version and panel information, exchanges commands, runs data streams
// into complete scans, and on Leave() (also after Ctrl+C) stops what it started and gives
// the coordinate reports back before closing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/DataStreams.h"
#include "control/CSettingsRecord.h"
#include "link/CTransCtrl.h"

// How the link is chosen.
struct LinkChoice {
  std::string configPath;  // "" = as CSettingsLocation decides
  std::optional<uint16_t> usbVid, usbPid;
  std::string serialDevice;
  std::optional<uint32_t> baud;
  std::string device;              // the one USB controller to open: node, port or serial
  std::optional<uint16_t> iface;   // the USB interface of the pipe, for every identity
};

// Reads the configuration and fills the settings; the USB identities and serial line
// the link would use follow from it and the choice.
void LoadLinkSettings(const LinkChoice& choice, CSettingsRecord& settings);

// What is wrong with the configuration the link would be opened with: a --config file
// that is missing or a folder, or a USB identity that is not a decimal number (read as 0
// otherwise). Empty when nothing is.
std::string CheckLinkConfig(const LinkChoice& choice);

class ControllerSession : private ITransListener, private ITransHost {
 public:
  using Frame = std::vector<uint8_t>;
  using ScanFn = std::function<void(std::span<const int32_t>)>;

  enum class Result { kOk, kNotSent, kTimeout, kRefused, kInterrupted };

  explicit ControllerSession(int timeoutMs);
  ~ControllerSession() override;
  ControllerSession(const ControllerSession&) = delete;
  ControllerSession& operator=(const ControllerSession&) = delete;

  // Opens the link and waits for the version and the panel information. On failure
  // Error() says why.
  Result Open(const LinkChoice& choice);
  const std::string& Error() const { return error_; }

  std::string LinkText() const;
  // The device the link uses (node, bus, identity, interface, serial, port).
  const LinkDevice& Device() const { return device_; }
  // Every frame written and read from now on goes to recorder (set before Open to record
  // the opening too).
  void SetRecorder(std::shared_ptr<IFrameRecorder> recorder) {
    ctrl_.SetRecorder(std::move(recorder));
  }
  int LinkType() const { return ctrl_.GetLinkType(); }
  std::string LinkDescription() const { return ctrl_.LinkDescription(); }
  // The firmware version text (without the zero bytes that may end it).
  std::string Version() const;
  // False when the controller gave no version text (a negative or empty reply).
  bool VersionReported() const { return !Version().empty(); }
  // The panel's geometry in force (the controller's once reported), and whether the
  // controller reported it.
  PanelInfo Panel() const { return ctrl_.Panel(); }
  bool PanelReported() const { return ctrl_.Geometry().reportedInForce; }

  // Sends a command string and waits up to timeoutMs for its reply (a frame of the same
  // group and sub-command). kRefused: the reply's status was not OK. again: a command that
  // may be sent twice is sent again when an answer arrived cut short. A wait begun after a
  // stop was asked for is a clean-up's (stop the stream, hand the coordinates back): it
  // runs its time.
  Result Exchange(const std::string& cmd, int timeoutMs, Frame* reply = nullptr,
                  bool again = false);
  // A person's command (send, calibrate): not sent once a stop was asked for, and its wait
  // ends at a stop signal whenever that comes.
  Result Command(const std::string& cmd, int timeoutMs, Frame* reply = nullptr);

  // Runs one data-stream command until `scans` complete scans arrived, handing each to
  // onScan; stops the stream afterwards. kTimeout when no scan completed within the time
  // out; kRefused when the controller refused the stream.
  struct CaptureCounts {
    uint64_t complete = 0;
    uint64_t incomplete = 0;
    uint64_t dropped = 0;    // frames the queue had no room for (the reader was too slow)
    uint64_t truncated = 0;  // frames that arrived cut short, left out
  };
  Result Capture(const analysis::StreamPart& part, const std::string& label, int scans,
                 const ScanFn& onScan, CaptureCounts& counts);

  // Stops a stream this program started and (USB) gives coordinates back to the cursor,
  // then closes the link. Called by the destructor too; does nothing twice.
  void Leave();

  // The next frame the controller sent (coordinate reports included), with its arrival
  // time in microseconds of the steady clock; nothing after timeoutMs, on Ctrl+C or when
  // the link went away.
  std::optional<Frame> Receive(int timeoutMs, int64_t& arrivedUs);
  // A frame as the receive thread decoded it where it arrived.
  struct Received {
    Frame bytes;
    int64_t arrivedUs = 0;  // microseconds of the steady clock
    bool isData = false;    // a data report was decoded from it
    // The data report; its values point into this frame (valid while it lives).
    DataRecord Data() const {
      DataRecord d = data;
      d.values = values.data();
      return d;
    }
    DataRecord data;
    std::vector<int32_t> values;
  };
  // The same, with the data report decoded from it. batch: see NextReceived (a reader of a
  // running stream passes kStreamBatch).
  std::optional<Received> ReceiveDecoded(int timeoutMs, size_t batch = 1);
  static constexpr size_t kStreamBatch = 32;  // frames a stream's reader is woken for
  static int64_t NowUs();
  // Frames lost before Receive could give them (this session's queue and hidpipe's ring
  // were full): a window that lost any cannot be measured.
  uint64_t DroppedFrames();
  // The controller went away (unplugged, its line closed); Receive returns nothing from then on.
  bool LinkLost() const { return linkLost_; }
  std::string LostMessage() const { return "the controller went away (" + linkText_ + ")"; }

  // Reports of a stream command seen by Exchange callers (a stream started by "send").
  void MarkStreamStarted() { streamStarted_ = true; }

 private:
  int OnTransCallback(const TransFrame& frame) override;
  void ApplyPanelInfo(const PanelInfo& info) override;
  void ShowPanelInfoFailure() override;
  void OnLinkLost() override;
  // USB: a device went away somewhere; the next wait asks the controller whether it is ours.
  static void OnNotice(int event, const char* path, void* user);
  void ProbeAfterRemoval();

  std::optional<Frame> Next(std::chrono::steady_clock::time_point deadline, bool interruptible,
                            int64_t* arrivedUs = nullptr);
  // batch > 1: while a stream runs, the wait is woken once that many frames are queued (or
  // after kBatchWaitMs), not for every frame.
  std::optional<Received> NextReceived(std::chrono::steady_clock::time_point deadline,
                                       bool interruptible, size_t batch = 1);
  void Drop();  // forgets frames received so far
  // Wakes a wait in Next (any thread).
  void Wake();
  // Sleeps until woken, the deadline or (interruptible) a stop signal.
  void WaitForWake(std::chrono::steady_clock::time_point deadline, bool interruptible);
  Result Fail(Result r, const std::string& message);
  Result Send(const std::string& cmd, int timeoutMs, Frame* reply, bool again, bool stoppable);
  Result OpenUsb();
  // "the command was not sent" with the link's reason when a write failed.
  std::string NotSent(const std::string& cmd, uint64_t failuresBefore) const;
  // A command whose write the device had not taken within the library's wait: true once it
  // went out after all (a busy host); false when it failed, at the deadline or on a stop.
  bool WentOutLate(const std::string& cmd, std::chrono::steady_clock::time_point deadline);

  int timeoutMs_;
  CTransCtrl ctrl_;
  CSettingsRecord settings_;
  std::string linkText_;
  LinkDevice device_;
  std::string error_;
  bool open_ = false;
  bool streamStarted_ = false;
  bool silent_ = false;  // a wait for an answer ran out
  std::atomic<bool> linkLost_{false};
  std::atomic<bool> removalHeard_{false};
  bool noticesOn_ = false;

  // Frames from the receive thread to the command; bounded, so that a reader that
  // stalls (standard output blocked) costs no memory; what does not fit is counted.
  static constexpr size_t kMaxQueued = 16384;
  static constexpr int kBatchWaitMs = 10;     // longest it waits for a batch
  std::mutex mutex_;
  int wakeFd_ = -1;       // eventfd: something for Next
  bool waiting_ = false;  // Next sleeps on wakeFd_ (with mutex_)
  size_t wakeAt_ = 1;     // with mutex_: the queue length that wakes it
  std::deque<Received> frames_;
  uint64_t dropped_ = 0;
};
