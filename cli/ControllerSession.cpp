#include "cli/ControllerSession.h"

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "analysis/ScanAssembler.h"
#include "capture/FrameRules.h"
#include "cli/Interrupt.h"
#include "cli/Progress.h"
#include "cli/StationDevices.h"
#include "control/CProfileFile.h"
#include "control/CSettingsLocation.h"
#include "hidpipe/hidpipe.h"
#include "link/CommandString.h"
#include "link/SerialPortMap.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kListenerSlot = kSlotFrames;
constexpr const char* kStopStreams = "SEND 024E0180 ";
constexpr const char* kReportTargetCursor = "SEND 024C020500 ";
constexpr int kLeaveWaitMs = 500;
constexpr int kOpenStepMs = 100;  // how soon an answer lost to a truncated frame is asked again
constexpr int kLateWritePollMs = 5;  // how often a write that outlasted its wait is looked at
// How long an answer may be missing before its question goes again: the kernel keeps 64
// reports for a reader, so a host too busy to read for a moment during a stream can lose one.
constexpr int kAskAgainMs = 1000;

std::string Hex4(uint16_t v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04X", v);
  return b;
}

std::string Hex2(uint8_t v) {
  char b[4];
  std::snprintf(b, sizeof b, "%02X", v);
  return b;
}

// The status of an acknowledgement or query reply; version and panel replies carry no
// status.
bool ReplyOk(const ControllerSession::Frame& f) {
  if (f[1] == 0x4C && (f[3] == 0x04 || f[3] == 0x06)) return true;
  return f.size() >= 5 && f[4] == 1;
}

}  // namespace

void LoadLinkSettings(const LinkChoice& choice, CSettingsRecord& settings) {
  // The same file VantrelTool uses: beside the program, or ~/.config/vantrel/ when installed.
  const std::string path = CSettingsLocation::Resolve(choice.configPath);
  settings.SetFilePath(path);
  settings.LoadSettings(path, nullptr);
  if (choice.usbVid) {
    settings.usbCom = 0;
    settings.vid[0] = settings.vid[1] = *choice.usbVid;
    settings.pid[0] = settings.pid[1] = *choice.usbPid;
  } else if (!choice.serialDevice.empty()) {
    settings.usbCom = 1;
    settings.comPort.devicePath = choice.serialDevice;
  }
  if (choice.baud) settings.comPort.baudRate = *choice.baud;
  if (choice.iface) settings.iface[0] = settings.iface[1] = *choice.iface;
  if (!choice.device.empty()) settings.device = choice.device;
}

std::string CheckLinkConfig(const LinkChoice& choice) {
  struct stat st {};
  if (!choice.configPath.empty()) {
    if (::stat(choice.configPath.c_str(), &st) != 0)
      return "--config " + choice.configPath + ": no such file";
    if (!S_ISREG(st.st_mode)) return "--config " + choice.configPath + ": not a file";
  }
  if (choice.usbVid || !choice.serialDevice.empty()) return "";
  const std::string path = CSettingsLocation::Resolve(choice.configPath);
  CProfileFile f;
  std::string error;
  if (::stat(path.c_str(), &st) != 0 || !f.Load(path, &error)) return "";
  for (const char* key : {"VID1", "PID1", "VID2", "PID2"}) {
    const std::optional<std::string> v = f.GetString("HID", key);
    if (!v) continue;
    std::string t = *v;
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.erase(0, 1);
    const bool digits = !t.empty() && std::all_of(t.begin(), t.end(), [](char c) {
      return std::isdigit(static_cast<unsigned char>(c));
    });
    if (!digits)
      return path + ": [HID] " + key + " = " + t +
             " is not a decimal number (0x227D is written 8829); the program would read it "
             "as " +
             std::to_string(CProfileFile::ParseLeadingInt(t).value_or(0));
  }
  return "";
}

ControllerSession::ControllerSession(int timeoutMs)
    : timeoutMs_(timeoutMs), wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  ctrl_.SetHost(this);
}

ControllerSession::~ControllerSession() {
  if (noticesOn_) hidSetNoticeCallback(nullptr, nullptr);
  Leave();
  // The receive thread must be gone before the frame queue it fills.
  ctrl_.UnregisterListener(kListenerSlot);
  ctrl_.Close();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void ControllerSession::Wake() {
  const uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
}

void ControllerSession::WaitForWake(Clock::time_point deadline, bool interruptible) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  pollfd fd{wakeFd_, POLLIN, 0};
  const int ms = static_cast<int>(std::clamp<int64_t>(left, 0, 1 << 30));
  if (interruptible)
    WaitReadableOrInterrupt(&fd, 1, ms);
  else
    ::poll(&fd, 1, ms);
  uint64_t count = 0;
  (void)!::read(wakeFd_, &count, sizeof count);
}

ControllerSession::Result ControllerSession::Fail(Result r, const std::string& message) {
  error_ = linkLost_ && r == Result::kTimeout ? LostMessage() : message;
  if (r == Result::kTimeout) silent_ = true;
  return r;
}

ControllerSession::Result ControllerSession::Open(const LinkChoice& choice) {
  LoadLinkSettings(choice, settings_);
  ctrl_.SetPanelCounts(settings_.xCount, settings_.yCount, settings_.resolution);
  ctrl_.RegisterListener(kListenerSlot, kListenerActive, this);
  int opened = 0;
  if (settings_.usbCom != 0) {
    SerialLineSettings line = settings_.comPort;
    line.portNum = settings_.portNum;
    const std::string device = ComDevicePath(line);
    linkText_ = "serial " + (device.empty() ? "COM" + std::to_string(line.portNum) : device) + " " +
                std::to_string(line.baudRate) + " baud";
    opened = ctrl_.Open(kLinkCom, &line);
    if (opened != 1) return Fail(Result::kNotSent, "cannot open the serial port: " + linkText_);
  } else {
    const Result r = OpenUsb();
    if (r != Result::kOk) return r;
  }
  open_ = true;
  // Open sends GetVersion, the coordinate settings (USB) and GetFirmwareDetail; the
  // rest leave the pending queue one by one.
  bool version = false, panel = false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  // The link is new: every frame it cut short so far was an answer to the opening, even one
  // the receive thread dropped before this line ran.
  uint64_t truncated = 0;
  auto askedAt = Clock::now();
  while (!version || !panel || CTransCtrl::PendingCount() > 0) {
    auto f = Next(std::min(deadline, Clock::now() + std::chrono::milliseconds(kOpenStepMs)), true);
    if (CTransCtrl::PendingCount() > 0) askedAt = Clock::now();  // not all asked yet
    if (Interrupted()) return Fail(Result::kInterrupted, "interrupted");
    // A query that could not be written will not be answered: no use waiting.
    if (const std::string failed = ctrl_.OpeningFailure(); !failed.empty())
      return Fail(Result::kNotSent, failed + " (" + linkText_ + ")");
    if (!f && Clock::now() >= deadline) {
      // A query still not taken by the device is the reason, not the answer's absence.
      if (ctrl_.WritesStalled())
        return Fail(Result::kNotSent, ctrl_.LastSendFailure() + " (" + linkText_ + ")");
      return Fail(Result::kTimeout, "the controller did not answer within " +
                                        std::to_string(timeoutMs_) + " ms (" + linkText_ + ")");
    }
    if (f && f->size() >= 4 && (*f)[1] == 0x4C && (*f)[3] == 0x04) version = true;
    if (f && f->size() >= 4 && (*f)[1] == 0x4C && (*f)[3] == 0x06) panel = true;
    // An answer that arrived cut short was dropped, or one never came: what is missing is
    // asked again.
    const bool cut = !f && ctrl_.TruncatedFrames() != truncated;
    const bool silent = Clock::now() - askedAt >= std::chrono::milliseconds(kAskAgainMs);
    if ((version && panel) || (!cut && !silent)) continue;
    truncated = ctrl_.TruncatedFrames();
    askedAt = Clock::now();
    const auto ask = [this](const char* query) {
      ctrl_.SendCmd(query, static_cast<int>(std::strlen(query)), 1, 1);
    };
    if (!version) ask(CTransCtrl::kGetVersion);
    if (!panel) ask(CTransCtrl::kGetFirmwareDetail);
  }
  return Result::kOk;
}

ControllerSession::Result ControllerSession::OpenUsb() {
  for (int entry = 0; entry < 3; ++entry) {
    const int from = entry == 0 ? 0 : 1;
    ctrl_.SetIdentity(entry, settings_.vid[from], settings_.pid[from], settings_.osType[from]);
    ctrl_.SetInterface(entry, settings_.iface[from]);
  }
  ctrl_.SetDeviceChoice(settings_.device);
  // The identities in use; one that is not set (0000:0000) opens nothing and is not named.
  std::string ids;
  for (int i = 0; i < 2; ++i) {
    if (settings_.vid[i] == 0 || settings_.pid[i] == 0) continue;
    const std::string id = Hex4(settings_.vid[i]) + ":" + Hex4(settings_.pid[i]);
    if (ids.find(id) == std::string::npos) ids += (ids.empty() ? "" : " or ") + id;
  }
  if (ids.empty()) ids = "(no identity configured)";
  linkText_ = "USB " + ids;
  // A production verdict never rests on which of two controllers was found first.
  const char* sim = std::getenv("HIDPIPE_SIM");
  if (settings_.device.empty() && (sim == nullptr || *sim == '\0')) {
    const std::vector<StationDevice> found = Candidates(ScanStation(settings_), settings_);
    if (found.size() > 1) {
      std::string list;
      for (const StationDevice& d : found) list += "\n  " + DeviceSummary(d.info);
      return Fail(Result::kNotSent,
                  std::to_string(found.size()) + " controllers match " + linkText_ +
                      "; choose one with --device (its node, USB port or serial number):" + list);
    }
  }
  if (ctrl_.Open(kLinkUsb, nullptr) != 1) {
    // A device found but refused says why (hidpipe's text, one line per device).
    std::string why = ctrl_.OpenFailureText();
    while (!why.empty() && why.back() == '\n') why.pop_back();
    if (why.empty() && !settings_.device.empty())
      why = "no device \"" + settings_.device + "\" is present";
    return Fail(Result::kNotSent,
                "no controller found: " + linkText_ + (why.empty() ? " not present" : ": " + why));
  }
  device_ = ctrl_.Device();
  // A serial port that closes is seen by the link itself; a USB device going away is
  // heard as a device notice (udev's, or hidpipe's own when the node fails).
  noticesOn_ = hidSetNoticeCallback(&ControllerSession::OnNotice, this) != 0;
  return Result::kOk;
}

std::string ControllerSession::NotSent(const std::string& cmd, uint64_t failuresBefore) const {
  if (ctrl_.SendFailures() != failuresBefore) return ctrl_.LastSendFailure() + " (" + linkText_ + ")";
  return "the command \"" + cmd + "\" was not sent (" + linkText_ + ")";
}

bool ControllerSession::WentOutLate(const std::string& cmd, Clock::time_point deadline) {
  for (;;) {
    const int late = ctrl_.SettleLateCommand(cmd.c_str());
    if (late != 0) return late == 1;
    // A stop is never held up by a device that takes nothing.
    if (Interrupted() || Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kLateWritePollMs));
  }
}

std::string ControllerSession::LinkText() const {
  return linkText_;
}

std::string ControllerSession::Version() const {
  std::string v = ctrl_.FirmwareVersion();
  while (!v.empty() && v.back() == '\0') v.pop_back();
  return v;
}

int ControllerSession::OnTransCallback(const TransFrame& frame) {
  Received r;
  r.bytes.assign(frame.bytes, frame.bytes + frame.len);
  // Its time where it arrived, not where this late reader took it.
  r.arrivedUs = frame.arrivedUs > 0 ? frame.arrivedUs : NowUs();
  if (const DataRecord* data = frame.DataReport()) {
    r.isData = true;
    r.data = *data;
    r.values.assign(data->values, data->values + data->count);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (frames_.size() >= kMaxQueued) {
      ++dropped_;
      return 0;
    }
    frames_.push_back(std::move(r));
    // Nobody to wake, or a reader that asked for a batch: no write per frame.
    if (!waiting_ || frames_.size() < wakeAt_) return 0;
    waiting_ = false;
  }
  Wake();
  return 0;
}

// The geometry is the controller's (ctrl_.Geometry()); nothing to keep here.
void ControllerSession::ApplyPanelInfo(const PanelInfo&) {}

void ControllerSession::ShowPanelInfoFailure() {
  std::fprintf(stderr,
               "vantrel: Fail to read the panel information; using the configured counts\n");
}

void ControllerSession::OnLinkLost() {
  linkLost_ = true;
  Wake();
}

void ControllerSession::OnNotice(int event, const char*, void* user) {
  if (event != HIDPIPE_REMOVAL) return;
  auto* self = static_cast<ControllerSession*>(user);
  self->removalHeard_ = true;
  self->Wake();
}

// As VantrelTool does after a device notice: a version query that cannot be written means
// the controller is gone.
void ControllerSession::ProbeAfterRemoval() {
  const char* query = CTransCtrl::kGetVersion;
  if (ctrl_.SendCmdDirect(query, static_cast<int>(std::strlen(query)), 1) == -1) OnLinkLost();
}

uint64_t ControllerSession::DroppedFrames() {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_ + hidDroppedReports();
}

int64_t ControllerSession::NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
      .count();
}

std::optional<ControllerSession::Frame> ControllerSession::Receive(int timeoutMs,
                                                                   int64_t& arrivedUs) {
  return Next(Clock::now() + std::chrono::milliseconds(timeoutMs), true, &arrivedUs);
}

std::optional<ControllerSession::Received> ControllerSession::ReceiveDecoded(int timeoutMs,
                                                                           size_t batch) {
  return NextReceived(Clock::now() + std::chrono::milliseconds(timeoutMs), true, batch);
}

std::optional<ControllerSession::Frame> ControllerSession::Next(Clock::time_point deadline,
                                                                bool interruptible,
                                                                int64_t* arrivedUs) {
  std::optional<Received> r = NextReceived(deadline, interruptible);
  if (!r) return std::nullopt;
  if (arrivedUs) *arrivedUs = r->arrivedUs;
  return std::move(r->bytes);
}

std::optional<ControllerSession::Received> ControllerSession::NextReceived(
    Clock::time_point deadline, bool interruptible, size_t batch) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (frames_.empty()) {
    if (removalHeard_.exchange(false)) {
      lock.unlock();
      ProbeAfterRemoval();
      lock.lock();
      continue;
    }
    if (linkLost_) {
      uint64_t count = 0;  // the loss was heard: nothing more to wake for
      (void)!::read(wakeFd_, &count, sizeof count);
      return std::nullopt;
    }
    if (interruptible && Interrupted()) return std::nullopt;
    // On the frames, the link's loss, a removal and (interruptible) a stop signal.
    waiting_ = true;
    wakeAt_ = batch;
    lock.unlock();
    const auto batchEnd = Clock::now() + std::chrono::milliseconds(kBatchWaitMs);
    WaitForWake(batch > 1 ? std::min(deadline, batchEnd) : deadline, interruptible);
    lock.lock();
    waiting_ = false;
    wakeAt_ = 1;
    batch = 1;  // a stream that paused: the next frame wakes the wait
    if (frames_.empty() && Clock::now() >= deadline) return std::nullopt;
  }
  Received r = std::move(frames_.front());
  frames_.pop_front();
  return r;
}

void ControllerSession::Drop() {
  std::lock_guard<std::mutex> lock(mutex_);
  frames_.clear();
}

ControllerSession::Result ControllerSession::Exchange(const std::string& cmd, int timeoutMs,
                                                      Frame* reply, bool again) {
  return Send(cmd, timeoutMs, reply, again, false);
}

ControllerSession::Result ControllerSession::Command(const std::string& cmd, int timeoutMs,
                                                     Frame* reply) {
  if (Interrupted()) return Fail(Result::kInterrupted, "interrupted");
  return Send(cmd, timeoutMs, reply, false, true);
}

ControllerSession::Result ControllerSession::Send(const std::string& cmd, int timeoutMs,
                                                  Frame* reply, bool again, bool stoppable) {
  uint8_t frame[CommandString::kUsbBufferSize];
  const int n = CommandString::ToUsbFrame(cmd, frame);
  if (n < 0) return Fail(Result::kNotSent, "not a command string (it must start with SEND)");
  if (static_cast<int>(cmd.size()) > CommandString::kMaxLength)
    return Fail(Result::kNotSent, "command string longer than 128 characters");
  Drop();
  const uint64_t failures = ctrl_.SendFailures();
  // Counted before the write: the reply may be cut short and dropped before SendCmd returns.
  uint64_t truncated = ctrl_.TruncatedFrames();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  if (ctrl_.SendCmd(cmd.c_str(), static_cast<int>(cmd.size()), 1, 0) == -1 &&
      !(ctrl_.WritesStalled() && WentOutLate(cmd, deadline)))
    return Fail(Result::kNotSent, NotSent(cmd, failures));
  const bool interruptible = open_ && (stoppable || !Interrupted());
  auto sentAt = Clock::now();
  for (;;) {
    const auto step = std::chrono::milliseconds(again ? kOpenStepMs : timeoutMs);
    auto f = Next(std::min(deadline, Clock::now() + step), interruptible);
    const bool isReply = f && capture::IsReplyTo(frame, n, f->data(), static_cast<int>(f->size()));
    const auto waited = Clock::now() - sentAt;
    if (!isReply && again &&
        ((ctrl_.TruncatedFrames() != truncated && waited >= std::chrono::milliseconds(kOpenStepMs)) ||
         waited >= std::chrono::milliseconds(kAskAgainMs))) {
      // The answer may have arrived cut short and been dropped, or been lost on the way: the
      // command goes again.
      truncated = ctrl_.TruncatedFrames();
      ctrl_.SendCmd(cmd.c_str(), static_cast<int>(cmd.size()), 1, 0);
      sentAt = Clock::now();
    }
    if (!f && Clock::now() < deadline && !linkLost_ && !(interruptible && Interrupted())) continue;
    if (!f) {
      if (interruptible && Interrupted()) return Fail(Result::kInterrupted, "interrupted");
      return Fail(Result::kTimeout,
                  "no reply to \"" + cmd + "\" within " + std::to_string(timeoutMs) + " ms");
    }
    if (!isReply) continue;
    if (reply) *reply = *f;
    if (ReplyOk(*f)) return Result::kOk;
    return Fail(Result::kRefused, "the controller refused \"" + cmd + "\" (status " +
                                      (f->size() >= 5 ? std::to_string((*f)[4]) : "none") + ")");
  }
}

ControllerSession::Result ControllerSession::Capture(const analysis::StreamPart& part,
                                                     const std::string& label, int scans,
                                                     const ScanFn& onScan, CaptureCounts& counts) {
  const PanelInfo panel = Panel();
  analysis::ScanAssembler assembler(part.dataCode,
                                    analysis::ScanLayout::For(part, panel.xCount, panel.yCount));
  const std::string start = "SEND 024E02" + Hex2(part.subCommand) + "00 ";
  const uint64_t truncatedBefore = ctrl_.TruncatedFrames();
  streamStarted_ = true;
  Result r = Exchange(start, timeoutMs_, nullptr, true);
  if (r != Result::kOk) return r;

  Progress progress(label, scans);
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  long done = 0;
  r = Result::kOk;
  while (done < scans) {
    // Asked to stop: at once, even while frames keep coming.
    auto f = Interrupted() ? std::nullopt : NextReceived(deadline, true, kStreamBatch);
    if (!f) {
      r = Interrupted() ? Fail(Result::kInterrupted, "interrupted")
                        : Fail(Result::kTimeout, "no complete scan of " + label + " within " +
                                                     std::to_string(timeoutMs_) + " ms");
      break;
    }
    if (!f->isData || f->data.group != 0x4B) continue;
    if (!assembler.Add(f->Data())) continue;
    onScan(assembler.Scan());
    ++done;
    progress.Update(done);
    deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  }
  progress.Finish();
  counts.complete += assembler.Complete();
  counts.incomplete += assembler.Incomplete();
  const uint64_t truncatedNow = ctrl_.TruncatedFrames();
  if (truncatedNow > truncatedBefore) counts.truncated += truncatedNow - truncatedBefore;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    counts.dropped += dropped_;
    dropped_ = 0;
  }
  if (r == Result::kOk || r == Result::kInterrupted) {
    // Stop now; Leave() stops again when this does not get through.
    const std::string error = error_;
    if (Exchange(kStopStreams, timeoutMs_, nullptr, true) == Result::kOk) streamStarted_ = false;
    if (r != Result::kOk) error_ = error;
  }
  return r;
}

void ControllerSession::Leave() {
  if (!open_) return;
  const bool usb = ctrl_.GetLinkType() == kLinkUsb;
  // Once writes time out, each would only wait for a device that takes nothing.
  if (!ctrl_.WritesStalled() && !linkLost_) {
    // After a silence the commands still go out, without waiting for answers that would
    // not come.
    const int wait = silent_ ? 0 : kLeaveWaitMs;
    if (streamStarted_ && Exchange(kStopStreams, wait, nullptr, true) != Result::kNotSent)
      streamStarted_ = false;
    if (usb && !ctrl_.WritesStalled()) Exchange(kReportTargetCursor, wait, nullptr, true);
  }
  // Also when the stop just now was the first write to time out.
  if (ctrl_.WritesStalled() && !linkLost_) {
    std::fprintf(stderr,
                 "vantrel: the controller takes no commands (its writes time out): %s were "
                 "not sent; it may be left %s\n",
                 usb ? "the stop and the hand-back of coordinates to the cursor" : "the stop",
                 streamStarted_ ? "streaming" : "as it is");
  }
  open_ = false;
  ctrl_.UnregisterListener(kListenerSlot);
  ctrl_.Close();
}
