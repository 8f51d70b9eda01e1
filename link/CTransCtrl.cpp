#include "CTransCtrl.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

#include "CPendingQueue.h"
#include "CTransCOM.h"
#include "CTransUSB.h"
#include "CommandString.h"
#include "FrameCodec.h"
#include "LinkTrace.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kMaxFrame = 4095;
constexpr int kEmptyPollsBeforeSleep = 20;
constexpr int kEmptyPollsBeforeQuiet = 21;
constexpr int kQuietPollMs = 10;
constexpr int kNoLinkPollMs = 50;
constexpr int kCloseWaitMs = 3000;

const char* const kOpenCommands[] = {
    CTransCtrl::kGetVersion,
    "SEND 024C020501 ",  // report target: this program (USB)
    "SEND 024C020800 ",  // coordinate reports on (USB)
    CTransCtrl::kGetFirmwareDetail,
};

// Why a send returned -1.
enum class SendOutcome { kWritten, kRefused, kNoLink, kQueued, kWriteFailed };

}  // namespace

// One run of the receive thread: its link, buffer and stop flag. Shared with the thread,
// so a thread that outlives Close keeps them alive.
struct ReceiveSession {
  std::shared_ptr<CTransIFBase> link;
  std::atomic<bool> running{true};
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  bool closeLinkOnExit = false;
  bool lostReported = false;  // receive thread only
  std::string retried;        // receive thread only: a queued opening query tried once more
  uint8_t buf[CTransCtrl::kRecvBufferSize + 16] = {};
};

// Controller state shared by the user-interface thread and the receive thread.
struct TransCore {
  std::atomic<ITransDeliverer*> deliverer{nullptr};
  std::atomic<ITransHost*> host{nullptr};
  CDirectDeliverer direct;
  CTransCtrl::LinkFactory factory;

  mutable std::mutex linkMutex;
  std::shared_ptr<CTransIFBase> link;

  std::atomic<int> linkType{kLinkNone};
  std::atomic<int> encoding{kEncodingNone};
  std::atomic<int> commandSent{0};
  std::atomic<int> receiving{0};
  std::atomic<int> reportTarget{0};
  std::atomic<int> reportPermission{0};
  std::atomic<bool> plainPolling{false};
  std::atomic<std::shared_ptr<IFrameRecorder>> recorder;

  DataRecord data;
  bool dataFromFrame = false;  // data was decoded from the frame being handled
  CoordinateRecord coord;
  int32_t values[FrameCodec::kValueCount] = {};

  mutable std::mutex versionMutex;
  std::string version;

  std::atomic<int> xCount{38}, yCount{22}, resolution{256}, xRange{0}, yRange{0};
  std::atomic<int> cfgX{38}, cfgY{22}, cfgResolution{256};

  uint16_t vids[CTransUSB::kEntries] = {};
  uint16_t pids[CTransUSB::kEntries] = {};
  uint16_t osTypes[CTransUSB::kEntries] = {2, 2, 2};
  uint16_t ifaces[CTransUSB::kEntries] = {CTransUSB::kInterface, CTransUSB::kInterface,
                                          CTransUSB::kInterface};
  std::string deviceChoice;

  // The last write that failed, as the user reads it; writesStalled while the last write
  // failed because the device took nothing in time.
  mutable std::mutex sendFailureMutex;
  std::string sendFailure;
  std::atomic<uint64_t> sendFailures{0};
  std::atomic<bool> writesStalled{false};
  std::string openingFailure;  // under sendFailureMutex: an opening query given up

  struct Slot {
    int mode = 0;
    ITransListener* listener = nullptr;
  };
  mutable std::mutex slotMutex;
  Slot slots[CTransCtrl::kSlotCount];
  int listenerCount = 0;

  std::mutex recvLock;

  ITransDeliverer* Deliverer() {
    ITransDeliverer* d = deliverer.load();
    return d != nullptr ? d : &direct;
  }

  std::shared_ptr<CTransIFBase> CurrentLink() const {
    std::lock_guard<std::mutex> lock(linkMutex);
    return link;
  }

  PanelInfo Panel() const {
    return {xCount.load(), yCount.load(), resolution.load(), xRange.load(), yRange.load()};
  }

  SendOutcome Send(std::string_view cmd, int queueIfBusy, int& result);
  // Writes an opening query, once more when the first write fails.
  void SendOpening(const char* cmd);
  void NoteSendFailure(std::string_view cmd, const CTransIFBase& link);
  // An opening query could not be written even a second time.
  void GiveUpOpening();
  void ReceiveLoop(ReceiveSession& s);
  bool HandleFrame(ReceiveSession& s, int len);
  void SendQueued(ReceiveSession& s, int& emptyPolls);
  void Pause(ReceiveSession& s, int ms);
  void Deliver(ReceiveSession& s, int slot, int len, bool activeOnly);
  void DeliverToXY(ReceiveSession& s, int len);
  void DeliverControlReply(ReceiveSession& s, int len);
  void ParseVersion(ReceiveSession& s, int len);
  void ParsePanelInfo(ReceiveSession& s, int len);
  void RestoreConfiguredPanel();
  void ApplyPanelInfo();
  void ParseReport(ReceiveSession& s, int len);
  void RouteToViews(ReceiveSession& s, int len);
  void DeliverToViews(ReceiveSession& s, int len, bool toXY);
  void FinishSession(ReceiveSession& s);
  void ReportLinkLost(ReceiveSession& s);
  int WriteFrame(CTransIFBase& link, const uint8_t* frame, int len);
};

struct CTransCtrl::Impl {
  std::shared_ptr<TransCore> core = std::make_shared<TransCore>();
  std::shared_ptr<ReceiveSession> session;
  std::thread thread;
  // Set while Open or Close runs. Close lets pending hand-overs run while it waits, and
  // one of them may run an event loop in which a timer calls Open or Close again: such
  // a nested call is refused, the outer one finishes on a consistent controller.
  std::atomic<bool> changing{false};

  void CloseLink();

  // Stops the receive thread; false when it did not end in time. The thread then closes
  // its link when it ends, unless closeAtOnce: the caller closes it now.
  bool StopThread(bool closeAtOnce);
};

// ---------------------------------------------------------------- sending

SendOutcome TransCore::Send(std::string_view cmd, int queueIfBusy, int& result) {
  result = -1;
  uint8_t usb[CommandString::kUsbBufferSize];
  uint8_t packet[CommandString::kMaxPacketSize];
  const uint8_t* frame = nullptr;
  int frameLen = -1;
  int enc = encoding.load();
  if (enc == kEncodingBinary) {
    frameLen = CommandString::ToUsbFrame(cmd, usb);
    frame = usb;
  } else if (enc == kEncodingAscii) {
    frameLen = CommandString::ToSerialPacket(cmd, packet);
    frame = packet;
  }
  if (frameLen < 0) {
    return enc == kEncodingNone && CommandString::HexStart(cmd) >= 0 ? SendOutcome::kNoLink
                                                                     : SendOutcome::kRefused;
  }
  auto current = CurrentLink();
  if (!current || current->GetState() == kLinkClosed) return SendOutcome::kNoLink;
  bool idle = current->GetState() == kLinkIdle && CPendingQueue::Instance().Empty();
  if (!idle && queueIfBusy != 0) {
    CPendingQueue::Instance().Push(std::string(cmd));
    return SendOutcome::kQueued;
  }
  current->SetState(kLinkBusy);
  result = WriteFrame(*current, frame, frameLen);
  commandSent.store(1);
  if (result == -1) {
    // Nothing went out, so no reply is awaited.
    if (current->GetState() == kLinkBusy) current->SetState(kLinkIdle);
    NoteSendFailure(cmd, *current);
    return SendOutcome::kWriteFailed;
  }
  writesStalled.store(false);
  if (frameLen >= 5 && frame[1] == 0x4C) {
    if (frame[3] == 0x05) reportTarget.store(frame[4]);
    if (frame[3] == 0x08) reportPermission.store(frame[4]);
  }
  return SendOutcome::kWritten;
}

void TransCore::NoteSendFailure(std::string_view cmd, const CTransIFBase& link) {
  const int error = link.LastWriteError();
  std::string reason = link.LastWriteErrorText();
  const std::string lead = "could not send: ";
  if (reason.rfind(lead, 0) == 0) reason.erase(0, lead.size());
  if (reason.empty()) reason = error != 0 ? std::strerror(error) : "the link refused it";
  const std::string text = "could not send " + CommandString::Name(cmd) + ": " + reason;
  LinkTrace("[CTransCtrl] %s\n", text.c_str());
  writesStalled.store(error == ETIMEDOUT);
  {
    std::lock_guard<std::mutex> lock(sendFailureMutex);
    sendFailure = text;
  }
  ++sendFailures;
}

void TransCore::SendOpening(const char* cmd) {
  const std::string_view text(cmd);
  int result = -1;
  if (Send(text, 1, result) != SendOutcome::kWriteFailed) return;
  if (Send(text, 1, result) == SendOutcome::kWriteFailed) GiveUpOpening();
}

void TransCore::GiveUpOpening() {
  std::lock_guard<std::mutex> lock(sendFailureMutex);
  if (openingFailure.empty()) openingFailure = sendFailure;
}

int TransCore::WriteFrame(CTransIFBase& link, const uint8_t* frame, int len) {
  // Recorded before it goes out, so that its reply, read on the receive thread, can never
  // be recorded ahead of it.
  if (auto rec = recorder.load()) {
    rec->OnLinkFrame(linkType.load(), true, RecorderClockUs(), frame, len);
  }
  return link.Write(frame, len);
}

// ---------------------------------------------------------------- receive loop

void TransCore::ReceiveLoop(ReceiveSession& s) {
  int emptyPolls = 0;
  int sleepMs = 0;
  while (s.running.load()) {
    if (!s.link) {
      std::this_thread::sleep_for(milliseconds(kNoLinkPollMs));
      continue;
    }
    int len;
    {
      std::lock_guard<std::mutex> lock(recvLock);
      len = s.link->Read(s.buf);
    }
    if (!s.running.load()) break;
    if (len >= 1 && len <= kMaxFrame) {
      if (auto rec = recorder.load()) {
        // Recorded at its arrival, as listeners see it.
        const int64_t arrived = s.link->LastFrameUs();
        rec->OnLinkFrame(linkType.load(), false, arrived > 0 ? arrived : RecorderClockUs(),
                         s.buf, len);
      }
    }
    if (len < 1 && s.link->IsGone()) {
      ReportLinkLost(s);
      std::this_thread::sleep_for(milliseconds(kNoLinkPollMs));
      continue;
    }
    if (len >= 1 && len <= kMaxFrame) {
      if (HandleFrame(s, len)) {
        emptyPolls = 0;
        receiving.store(1);
        sleepMs = 0;
      }
    } else {
      SendQueued(s, emptyPolls);
      if (emptyPolls > kEmptyPollsBeforeSleep) sleepMs = kQuietPollMs;
      if (emptyPolls > kEmptyPollsBeforeQuiet) receiving.store(0);
    }
    if (sleepMs > 0) Pause(s, sleepMs);
  }
}

void TransCore::SendQueued(ReceiveSession& s, int& emptyPolls) {
  std::string cmd;
  if (!CPendingQueue::Instance().Front(cmd)) {
    ++emptyPolls;
    return;
  }
  int result = -1;
  SendOutcome outcome = Send(cmd, 0, result);
  // A string that can no longer become a frame (the link changed kind) would block the
  // queue for good: it is dropped. So is a command whose write failed: an opening query is
  // tried once more, a user's command is never written again behind the user's back.
  bool drop = outcome == SendOutcome::kWritten || outcome == SendOutcome::kRefused;
  if (outcome == SendOutcome::kWriteFailed) {
    const bool opening = std::find_if(std::begin(kOpenCommands), std::end(kOpenCommands),
                                      [&](const char* c) { return cmd == c; }) !=
                         std::end(kOpenCommands);
    drop = !opening || s.retried == cmd;
    if (opening && drop) GiveUpOpening();
    s.retried = drop ? std::string() : cmd;
  }
  if (drop) CPendingQueue::Instance().PopFront(cmd);
  // A link that takes nothing is polled at the quiet rate, not in a tight loop.
  if (outcome != SendOutcome::kWritten && outcome != SendOutcome::kRefused) ++emptyPolls;
}

void TransCore::Pause(ReceiveSession& s, int ms) {
  if (plainPolling.load() || !s.link->CanWaitForInput()) {
    std::this_thread::sleep_for(milliseconds(ms));
    return;
  }
  auto until = Clock::now() + milliseconds(ms);
  // A wait that gives up early without input (device gone, hang-up) must not make the
  // loop spin: the rest of the time is slept.
  if (!s.link->WaitForInput(ms)) std::this_thread::sleep_until(until);
}

// Returns true when the frame counts as received data (resets the quiet count).
bool TransCore::HandleFrame(ReceiveSession& s, int len) {
  uint8_t* f = s.buf;
  dataFromFrame = false;
  // Bytes behind a short frame are zeroed so that classification sees only this frame.
  if (len < 16) std::memset(f + len, 0, static_cast<size_t>(16 - len));
  if (f[0] == 0x88 && f[1] == 0x88) DeliverToXY(s, len);
  if (len < 8) {
    s.link->SetState(kLinkIdle);
    Deliver(s, 7, len, false);
  } else if (len == 8) {
    s.link->SetState(kLinkIdle);
  }
  if (f[1] == 0x4C && f[3] == 0x04) {
    ParseVersion(s, len);
    DeliverControlReply(s, len);
  }
  if (f[1] == 0x4C && f[3] == 0x06) {
    ParsePanelInfo(s, len);
    DeliverControlReply(s, len);
    return false;
  }
  if (f[1] == 0x4C && f[3] == 0x99) return false;
  if (f[0] == 0xF5) {
    Deliver(s, 6, len, true);
  } else if (f[0] != 0x88) {
    Deliver(s, 5, len, true);
  }
  int type = linkType.load();
  if ((type == kLinkUsb && f[1] != 0x4D) || (type == kLinkCom && f[0] != 0x01)) {
    ParseReport(s, len);
  }
  RouteToViews(s, len);
  return true;
}

// ---------------------------------------------------------------- deliveries

void TransCore::Deliver(ReceiveSession& s, int slot, int len, bool activeOnly) {
  auto pick = [this, slot, activeOnly]() -> ITransListener* {
    std::lock_guard<std::mutex> lock(slotMutex);
    const Slot& entry = slots[slot];
    if (activeOnly && entry.mode != 2) return nullptr;
    return entry.listener;
  };
  if (pick() == nullptr || !s.running.load()) return;
  const uint8_t* bytes = s.buf;
  // The listener is looked up again on the receiving thread: it may have gone meanwhile.
  Deliverer()->RunSync([&] {
    if (ITransListener* listener = pick()) listener->OnTransCallback(len, bytes);
  });
}

void TransCore::DeliverToXY(ReceiveSession& s, int len) {
  bool first;
  {
    std::lock_guard<std::mutex> lock(slotMutex);
    first = slots[1].mode == 2;
  }
  Deliver(s, first ? 1 : 2, len, true);
}

void TransCore::DeliverControlReply(ReceiveSession& s, int len) {
  if (s.buf[0] == 0xF5) {
    Deliver(s, 6, len, true);
  } else {
    Deliver(s, 5, len, true);
    Deliver(s, 7, len, true);
  }
}

void TransCore::RouteToViews(ReceiveSession& s, int len) {
  const uint8_t* f = s.buf;
  bool toXY = false;
  if (linkType.load() == kLinkCom) {
    toXY = f[0] == 0x01 || (f[3] >= 8 && f[3] <= 29);
  } else if (linkType.load() == kLinkUsb) {
    static constexpr uint8_t kXYCodes[] = {0x03, 0x08, 0x09, 0x25, 0x26, 0x2D, 0x2E};
    toXY = f[1] == 0x4D;
    for (uint8_t code : kXYCodes) toXY = toXY || f[3] == code;
  }
  DeliverToViews(s, len, toXY);
}

// One hand-over per frame however many views are open: each one costs the UI thread a
// wake-up, and at 8000 frames a second those add up.
void TransCore::DeliverToViews(ReceiveSession& s, int len, bool toXY) {
  auto pick = [this](int slot) -> ITransListener* {
    std::lock_guard<std::mutex> lock(slotMutex);
    return slots[slot].mode == 2 ? slots[slot].listener : nullptr;
  };
  auto xySlot = [this] {
    std::lock_guard<std::mutex> lock(slotMutex);
    return slots[1].mode == 2 ? 1 : 2;
  };
  const bool any = pick(3) != nullptr || pick(4) != nullptr || (toXY && pick(xySlot()) != nullptr);
  if (!any || !s.running.load()) return;
  const uint8_t* bytes = s.buf;
  // Listeners are looked up again on the receiving thread, each just before its turn.
  Deliverer()->RunSync([&] {
    if (ITransListener* listener = pick(3)) listener->OnTransCallback(len, bytes);
    if (ITransListener* listener = pick(4)) listener->OnTransCallback(len, bytes);
    if (!toXY) return;
    if (ITransListener* listener = pick(xySlot())) listener->OnTransCallback(len, bytes);
  });
}

// ---------------------------------------------------------------- decoding

void TransCore::ParseVersion(ReceiveSession& s, int len) {
  if (!s.running.load()) return;  // a thread left behind by Close touches nothing shared
  bool parsed;
  {
    std::lock_guard<std::mutex> lock(versionMutex);
    parsed = FrameCodec::ParseVersion(s.buf, len, version);
  }
  if (parsed) s.link->SetState(kLinkIdle);
}

void TransCore::ParsePanelInfo(ReceiveSession& s, int len) {
  if (!s.running.load()) return;
  PanelInfo info = Panel();
  switch (FrameCodec::ParsePanelInfo(s.buf, len, info)) {
    case FrameCodec::PanelResult::kValid:
      xCount.store(info.xCount);
      yCount.store(info.yCount);
      resolution.store(info.resolution);
      xRange.store(info.xRange);
      yRange.store(info.yRange);
      ApplyPanelInfo();
      return;
    case FrameCodec::PanelResult::kEmptySilent:
      RestoreConfiguredPanel();
      return;
    case FrameCodec::PanelResult::kEmptyReported:
      RestoreConfiguredPanel();
      break;
    case FrameCodec::PanelResult::kBadLength:
      break;
  }
  LinkTrace("Fail to read the panel information\n");
  // Shown without waiting: the link is read on while the box is up.
  if (ITransHost* h = host.load()) Deliverer()->Post([h] { h->ShowPanelInfoFailure(); });
}

void TransCore::RestoreConfiguredPanel() {
  PanelInfo configured{cfgX.load(), cfgY.load(), cfgResolution.load(), 0, 0};
  if (ITransHost* h = host.load()) {
    Deliverer()->RunSync([h, &configured] { configured = h->ConfiguredPanel(); });
  }
  xCount.store(configured.xCount);
  yCount.store(configured.yCount);
  resolution.store(configured.resolution);
}

void TransCore::ApplyPanelInfo() {
  PanelInfo info = Panel();
  ITransHost* h = host.load();
  if (h == nullptr) {
    cfgX.store(info.xCount);
    cfgY.store(info.yCount);
    cfgResolution.store(info.resolution);
    return;
  }
  Deliverer()->RunSync([h, &info] { h->ApplyPanelInfo(info); });
}

void TransCore::ParseReport(ReceiveSession& s, int len) {
  if (!s.running.load()) return;
  auto result = FrameCodec::DecodeReport(s.buf, len, ProcessClockMs(), data, coord, values);
  dataFromFrame = result.kind == FrameCodec::Decoded::kData;
  if (result.replyOk) s.link->SetState(kLinkIdle);
}

// Once per session: the link reads as closed and the host hears of it without the receive
// thread waiting for the user-interface thread.
void TransCore::ReportLinkLost(ReceiveSession& s) {
  if (s.lostReported) return;
  s.lostReported = true;
  s.link->SetState(kLinkClosed);
  receiving.store(0);
  LinkTrace("[CTransCtrl] the device went away\n");
  if (ITransHost* h = host.load()) Deliverer()->Post([h] { h->OnLinkLost(); });
}

void TransCore::FinishSession(ReceiveSession& s) {
  bool closeLink;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.done = true;
    closeLink = s.closeLinkOnExit;
  }
  s.ended.notify_all();
  if (closeLink && s.link) s.link->Close();
}

// ---------------------------------------------------------------- thread control

bool CTransCtrl::Impl::StopThread(bool closeAtOnce) {
  if (!thread.joinable()) return true;
  session->running.store(false);
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();  // Close from within a delivery on the receive thread
    return false;
  }
  auto deadline = Clock::now() + milliseconds(kCloseWaitMs);
  std::unique_lock<std::mutex> lock(session->mutex);
  while (!session->done && Clock::now() < deadline) {
    lock.unlock();
    core->Deliverer()->RunPending();  // lets a delivery the thread waits on run
    lock.lock();
    session->ended.wait_for(lock, milliseconds(1), [this] { return session->done; });
  }
  bool ended = session->done;
  if (!ended && !closeAtOnce) session->closeLinkOnExit = true;
  lock.unlock();
  if (ended) {
    thread.join();
  } else {
    LinkTrace("[CTransCtrl::Close] receive thread still busy, left to end on its own\n");
    thread.detach();
  }
  return ended;
}

// ---------------------------------------------------------------- public operations

CTransCtrl::CTransCtrl() : d(std::make_unique<Impl>()) {}

CTransCtrl::~CTransCtrl() {
  Close();
}

void CTransCtrl::SetDeliverer(ITransDeliverer* deliverer) {
  d->core->deliverer.store(deliverer);
}
void CTransCtrl::SetHost(ITransHost* host) {
  d->core->host.store(host);
}
void CTransCtrl::SetLinkFactory(LinkFactory factory) {
  d->core->factory = std::move(factory);
}
void CTransCtrl::SetRecorder(std::shared_ptr<IFrameRecorder> recorder) {
  d->core->recorder.store(std::move(recorder));
}

namespace {
// Marks an Open or Close in progress; false when one already was.
class ChangeGuard {
 public:
  explicit ChangeGuard(std::atomic<bool>& flag) : flag_(flag), owner_(!flag.exchange(true)) {}
  ~ChangeGuard() {
    if (owner_) flag_.store(false);
  }
  bool Owner() const { return owner_; }

 private:
  std::atomic<bool>& flag_;
  bool owner_;
};
}  // namespace

int CTransCtrl::Open(int linkType, const SerialLineSettings* serialSettings) {
  LinkTrace("++[CTransCtrl::Open]\n");
  ChangeGuard guard(d->changing);
  if (!guard.Owner()) {
    LinkTrace("--[CTransCtrl::Open] refused within another Open or Close\n");
    return 0;
  }
  TransCore& c = *d->core;
  if (d->thread.joinable()) d->CloseLink();  // never replace a link under a running thread
  if (auto old = c.CurrentLink()) {
    old->Close();
    std::lock_guard<std::mutex> lock(c.linkMutex);
    c.link.reset();
  }
  c.linkType.store(linkType);
  std::shared_ptr<CTransIFBase> link;
  if (linkType == kLinkUsb || linkType == kLinkCom) {
    if (c.factory) {
      link = c.factory(linkType);
    } else if (linkType == kLinkUsb) {
      link = std::make_shared<CTransUSB>();
    } else {
      link = std::make_shared<CTransCOM>();
    }
  }
  if (!link) {
    c.linkType.store(kLinkNone);
    c.encoding.store(kEncodingNone);
    LinkTrace("--[CTransCtrl::Open]\n");
    return 0;
  }
  if (linkType == kLinkUsb) {
    link->SetVendorIds(c.vids);
    link->SetProductIds(c.pids);
    link->SetOSTypes(c.osTypes);
    link->SetInterfaces(c.ifaces);
    link->SetDeviceChoice(c.deviceChoice);
  }
  c.writesStalled.store(false);
  {
    std::lock_guard<std::mutex> lock(c.sendFailureMutex);
    c.openingFailure.clear();
  }
  c.encoding.store(linkType == kLinkUsb ? kEncodingBinary : kEncodingAscii);
  {
    std::lock_guard<std::mutex> lock(c.linkMutex);
    c.link = link;
  }
  int opened = link->Open(serialSettings);
  if (opened != 1) {
    LinkTrace("--[CTransCtrl::Open]\n");
    return opened;
  }
  d->session = std::make_shared<ReceiveSession>();
  d->session->link = link;
  d->thread = std::thread([core = d->core, session = d->session] {
    core->ReceiveLoop(*session);
    core->FinishSession(*session);
  });
  for (const char* cmd : kOpenCommands) {
    const bool usbOnly = cmd != kGetVersion && cmd != kGetFirmwareDetail;
    if (usbOnly && linkType != kLinkUsb) continue;
    c.SendOpening(cmd);
    if (!OpeningFailure().empty()) break;  // a device that takes nothing: no use going on
  }
  LinkTrace("--[CTransCtrl::Open]\n");
  return 1;
}

int CTransCtrl::SendCmd(const char* cmd, int len, int /*kind*/, int queueIfBusy, bool* queued) {
  LinkTrace("++[CTransCtrl::SendCmd]\n");
  int result = -1;
  SendOutcome outcome = SendOutcome::kRefused;
  if (cmd != nullptr && len >= 0 && len <= CommandString::kMaxLength) {
    std::string_view text(cmd, strnlen(cmd, static_cast<size_t>(len)));
    outcome = d->core->Send(text, queueIfBusy, result);
  }
  if (queued != nullptr) *queued = outcome == SendOutcome::kQueued;
  LinkTrace("--[CTransCtrl::SendCmd]\n");
  return result;
}

int CTransCtrl::SendCmdDirect(const char* cmd, int len, int /*kind*/) {
  LinkTrace("++[CTransCtrl::SendCmdDirect]\n");
  TransCore& c = *d->core;
  int result = -1;
  uint8_t usb[CommandString::kUsbBufferSize];
  uint8_t packet[CommandString::kMaxPacketSize];
  std::string_view text;
  if (cmd != nullptr && len >= 0) text = std::string_view(cmd, strnlen(cmd, size_t(len)));
  const uint8_t* frame = nullptr;
  int frameLen = -1;
  if (cmd != nullptr && c.encoding.load() == kEncodingBinary) {
    frameLen = CommandString::ToUsbFrame(text, usb);
    frame = usb;
  } else if (cmd != nullptr && c.encoding.load() == kEncodingAscii) {
    frameLen = CommandString::ToSerialPacket(text, packet);
    frame = packet;
  }
  auto link = c.CurrentLink();
  if (frameLen >= 0 && link) {
    result = c.WriteFrame(*link, frame, frameLen);
    c.commandSent.store(1);
  }
  LinkTrace("--[CTransCtrl::SendCmdDirect]\n");
  return result;
}

void CTransCtrl::Close() {
  LinkTrace("++[CTransCtrl::Close]\n");
  ChangeGuard guard(d->changing);
  if (guard.Owner()) d->CloseLink();
  LinkTrace("--[CTransCtrl::Close]\n");
}

void CTransCtrl::Impl::CloseLink() {
  TransCore& c = *core;
  // hidpipe has one device per process: a USB link closed later by a thread left behind
  // would close whatever device the next Open opened. It is closed now; its thread then
  // only sees a closed device.
  const bool usb = c.linkType.load() == kLinkUsb;
  bool threadEnded = StopThread(usb);
  c.linkType.store(kLinkNone);
  c.encoding.store(kEncodingNone);
  std::shared_ptr<CTransIFBase> link;
  {
    std::lock_guard<std::mutex> lock(c.linkMutex);
    link.swap(c.link);
  }
  // A serial thread that is still running closes its link (its own port) when it ends.
  if (link && (threadEnded || usb)) link->Close();
  session.reset();
  // Commands queued on this link are not sent on the next one, ahead of its opening.
  CPendingQueue::Instance().Clear();
}

int32_t CTransCtrl::GetLinkState() {
  auto link = d->core->CurrentLink();
  return link ? link->GetState() : kLinkClosed;
}

int64_t CTransCtrl::LastFrameUs() const {
  auto link = d->core->CurrentLink();
  return link ? link->LastFrameUs() : 0;
}

void CTransCtrl::SetLinkState(int32_t state) {
  if (auto link = d->core->CurrentLink()) link->SetState(state);
}

int CTransCtrl::RegisterListener(uint16_t slot, int mode, ITransListener* listener) {
  if (slot >= kSlotCount) return -1;
  TransCore& c = *d->core;
  std::lock_guard<std::mutex> lock(c.slotMutex);
  auto& entry = c.slots[slot];
  if (entry.mode == 0 && mode != 0) {
    entry.mode = mode;
    entry.listener = listener;
    ++c.listenerCount;
  }
  return slot;
}

int CTransCtrl::UnregisterListener(uint16_t slot) {
  if (slot >= kSlotCount) return -1;
  TransCore& c = *d->core;
  std::lock_guard<std::mutex> lock(c.slotMutex);
  auto& entry = c.slots[slot];
  if (entry.mode != 0) {
    entry = TransCore::Slot{};
    --c.listenerCount;
  }
  return slot;
}

bool CTransCtrl::IsListenerActive(uint16_t slot) const {
  if (slot >= kSlotCount) return false;
  std::lock_guard<std::mutex> lock(d->core->slotMutex);
  return d->core->slots[slot].mode == 2;
}

int CTransCtrl::GetOSType() {
  auto link = d->core->CurrentLink();
  return link ? link->GetOSType() : 0;
}

int CTransCtrl::ReservedQuery1() {
  auto link = d->core->CurrentLink();
  return link ? link->ReservedQuery1() : 0;
}

int CTransCtrl::ReservedQuery2() {
  auto link = d->core->CurrentLink();
  return link ? link->ReservedQuery2() : 0;
}

void CTransCtrl::SetIdentity(int entry, uint16_t vid, uint16_t pid, uint16_t osType) {
  if (entry < 0 || entry >= CTransUSB::kEntries) return;
  d->core->vids[entry] = vid;
  d->core->pids[entry] = pid;
  d->core->osTypes[entry] = osType;
}

void CTransCtrl::SetInterface(int entry, uint16_t iface) {
  if (entry >= 0 && entry < CTransUSB::kEntries) d->core->ifaces[entry] = iface;
}

uint16_t CTransCtrl::Interface(int entry) const {
  return entry >= 0 && entry < CTransUSB::kEntries ? d->core->ifaces[entry] : 0;
}

void CTransCtrl::SetDeviceChoice(const std::string& choice) {
  d->core->deviceChoice = choice;
}

uint16_t CTransCtrl::VendorId(int entry) const {
  return entry >= 0 && entry < CTransUSB::kEntries ? d->core->vids[entry] : 0;
}

uint16_t CTransCtrl::ProductId(int entry) const {
  return entry >= 0 && entry < CTransUSB::kEntries ? d->core->pids[entry] : 0;
}

uint16_t CTransCtrl::OSType(int entry) const {
  return entry >= 0 && entry < CTransUSB::kEntries ? d->core->osTypes[entry] : 0;
}

int CTransCtrl::CommandSent() const {
  return d->core->commandSent.load();
}
const DataRecord& CTransCtrl::GetDataRecord() const {
  return d->core->data;
}
const DataRecord* CTransCtrl::DecodedData() const {
  return d->core->dataFromFrame ? &d->core->data : nullptr;
}
const CoordinateRecord& CTransCtrl::GetCoordinateRecord() const {
  return d->core->coord;
}

std::string CTransCtrl::FirmwareVersion() const {
  std::lock_guard<std::mutex> lock(d->core->versionMutex);
  return d->core->version;
}

PanelInfo CTransCtrl::Panel() const {
  return d->core->Panel();
}

void CTransCtrl::SetPanelCounts(int xCount, int yCount, int resolution) {
  TransCore& c = *d->core;
  c.xCount.store(xCount);
  c.yCount.store(yCount);
  c.resolution.store(resolution);
  c.cfgX.store(xCount);
  c.cfgY.store(yCount);
  c.cfgResolution.store(resolution);
}

bool CTransCtrl::IsReceiving() const {
  return d->core->receiving.load() != 0;
}
std::string CTransCtrl::OpenFailureText() const {
  auto link = d->core->CurrentLink();
  return link ? link->OpenFailureText() : std::string();
}

int CTransCtrl::GetLinkType() const {
  return d->core->linkType.load();
}
std::string CTransCtrl::LinkDescription() const {
  auto link = d->core->CurrentLink();
  return link ? link->Describe() : std::string();
}
uint64_t CTransCtrl::TruncatedFrames() const {
  auto link = d->core->CurrentLink();
  return link ? link->TruncatedFrames() : 0;
}
LinkDevice CTransCtrl::Device() const {
  auto link = d->core->CurrentLink();
  return link ? link->Device() : LinkDevice{};
}
std::string CTransCtrl::LastSendFailure() const {
  std::lock_guard<std::mutex> lock(d->core->sendFailureMutex);
  return d->core->sendFailure;
}
std::string CTransCtrl::OpeningFailure() const {
  std::lock_guard<std::mutex> lock(d->core->sendFailureMutex);
  return d->core->openingFailure;
}
uint64_t CTransCtrl::SendFailures() const {
  return d->core->sendFailures.load();
}
bool CTransCtrl::WritesStalled() const {
  return d->core->writesStalled.load();
}
int CTransCtrl::ReportTarget() const {
  return d->core->reportTarget.load();
}
int CTransCtrl::ReportPermission() const {
  return d->core->reportPermission.load();
}

size_t CTransCtrl::PendingCount() {
  return CPendingQueue::Instance().Size();
}
void CTransCtrl::ClearPending() {
  CPendingQueue::Instance().Clear();
}

void CTransCtrl::SetPlainPolling(bool on) {
  d->core->plainPolling.store(on);
}
