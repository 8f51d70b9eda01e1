#include "CReceiveLoop.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "CPendingQueue.h"
#include "LinkTrace.h"
#include "ListenerSlots.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr int kMaxFrame = 4095;
constexpr int kEmptyPollsBeforeSleep = 20;
constexpr int kEmptyPollsBeforeQuiet = 21;
constexpr int kQuietPollMs = 10;
constexpr int kQuietAfterMs = 20;  // no frame for this long: the link is quiet
constexpr int kNoLinkPollMs = 50;

bool IsControlReply(const uint8_t* f, uint8_t sub) {
  return f[1] == 0x4C && f[3] == sub;
}

}  // namespace

void CReceiveLoop::Run() {
  int emptyPolls = 0;
  while (s_.running.load()) {
    if (!s_.link) {
      std::this_thread::sleep_for(milliseconds(kNoLinkPollMs));
      continue;
    }
    int64_t arrivedUs = 0;
    const int len = Read(arrivedUs);
    if (!s_.running.load()) break;
    if (len < 1 && s_.link->IsGone()) {
      router_.Flush();
      ReportLinkLost();
      std::this_thread::sleep_for(milliseconds(kNoLinkPollMs));
      continue;
    }
    if (len >= 1 && len <= kMaxFrame) {
      if (HandleFrame(len, arrivedUs)) {
        emptyPolls = 0;
        c_.receiving.store(1);
      }
      // The plain loop hands each frame over as it comes.
      if (c_.plainPolling.load()) router_.Flush();
      continue;
    }
    // Nothing more to read now: a steady stream is let gather first, then what was read
    // goes over in one hand-over, before anything is sent or waited for.
    if (Holds()) continue;
    router_.Flush();
    c_.send.SendQueued(emptyPolls, s_.retried);
    if (WaitsUntilWoken()) {
      WaitUntilWoken();
    } else {
      if (emptyPolls > kEmptyPollsBeforeQuiet) c_.receiving.store(0);
      if (emptyPolls > kEmptyPollsBeforeSleep) Pause(kQuietPollMs);
    }
  }
  Finish();
}

bool CReceiveLoop::WaitsUntilWoken() const {
  // The plain loop keeps its polls; a command that could not be written is tried again at
  // the quiet rate.
  return !c_.plainPolling.load() && s_.link->CanWaitUntilWoken() &&
         CPendingQueue::Instance().Empty();
}

bool CReceiveLoop::Holds() {
  // A steady stream is let gather for a moment before the thread waits (a command or Close
  // waits that long at most); what came meanwhile is read without a wake-up. Asked before
  // every wait, so that it counts what one wait brought; after a hold, what was read is
  // handed over before the next.
  const int us = c_.receiving.load() != 0 && WaitsUntilWoken() ? hold_.HoldUs() : 0;
  if (us <= 0 || justHeld_) {
    justHeld_ = false;
    return false;
  }
  std::this_thread::sleep_for(microseconds(us));
  justHeld_ = true;
  return true;
}

void CReceiveLoop::WaitUntilWoken() {
  // Input, a queued command or Close ends the wait; one timed wait after the last frame
  // tells that the device went quiet, then nothing runs until one of those comes.
  if (c_.receiving.load() == 0) {
    s_.link->WaitForInput(-1);
    return;
  }
  if (!s_.link->WaitForInput(kQuietAfterMs)) c_.receiving.store(0);
}

int CReceiveLoop::Read(int64_t& arrivedUs) {
  int len;
  {
    std::lock_guard<std::mutex> lock(c_.recvLock);
    len = s_.link->Read(s_.buf);
  }
  if (len < 1 || len > kMaxFrame) return len;
  // Its time where the link took it from the device; the recorder and the listeners both
  // see this one.
  arrivedUs = s_.link->LastFrameUs();
  hold_.OnReport(arrivedUs);
  if (arrivedUs <= 0) arrivedUs = RecorderClockUs();
  if (s_.running.load()) {
    if (auto rec = c_.link.Recorder()) rec->OnLinkFrame(c_.link.Type(), false, arrivedUs, s_.buf, len);
  }
  return len;
}

bool CReceiveLoop::DecodeReport(int len) {
  const uint8_t* f = s_.buf;
  s_.decoded.Clear();
  if (IsControlReply(f, 0x06) || IsControlReply(f, 0x99)) return false;
  const int type = c_.link.Type();
  const bool report = (type == kLinkUsb && f[1] != 0x4D) || (type == kLinkCom && f[0] != 0x01);
  if (report) s_.decoded.Decode(f, len, ProcessClockMs());
  return report;
}

void CReceiveLoop::TakeReplyStatus() {
  // A thread left behind by Close touches nothing shared.
  if (!s_.running.load()) return;
  if (s_.decoded.result.replyOk) s_.link->SetState(kLinkIdle);
}

bool CReceiveLoop::HandleFrame(int len, int64_t arrivedUs) {
  uint8_t* f = s_.buf;
  // Bytes behind a short frame are zeroed so that classification sees only this frame.
  if (len < 16) std::memset(f + len, 0, static_cast<size_t>(16 - len));
  const bool report = DecodeReport(len);
  const TransFrame frame = s_.decoded.Frame(f, len, arrivedUs);
  // The frames before a panel's geometry are shown with the geometry before it.
  if (IsControlReply(f, 0x06)) router_.Flush();
  router_.NextFrame(frame, report);
  if (f[0] == 0x88 && f[1] == 0x88) router_.DeliverToXY();
  if (len < 8) {
    s_.link->SetState(kLinkIdle);
    router_.Deliver(kSlotReplies, false);
  } else if (len == 8) {
    s_.link->SetState(kLinkIdle);
  }
  if (IsControlReply(f, 0x04)) {
    TakeVersion(len);
    router_.DeliverControlReply(frame);
  }
  if (IsControlReply(f, 0x06)) {
    TakePanelInfo(len);
    router_.DeliverControlReply(frame);
    return false;
  }
  if (IsControlReply(f, 0x99)) return false;
  if (f[0] == 0xF5) {
    router_.Deliver(kSlotDeviceText, true);
  } else if (f[0] != 0x88) {
    router_.Deliver(kSlotFrames, true);
  }
  if (report) TakeReplyStatus();
  router_.RouteToViews(frame, c_.link.Type());
  return true;
}

void CReceiveLoop::TakeVersion(int len) {
  if (!s_.running.load()) return;
  if (c_.decoder.TakeVersion(s_.buf, len)) s_.link->SetState(kLinkIdle);
}

void CReceiveLoop::TakePanelInfo(int len) {
  if (!s_.running.load()) return;
  ITransHost* h = c_.host.load();
  const FrameCodec::PanelResult result = c_.panel.TakeReply(s_.buf, len);
  const PanelInfo inForce = c_.panel.InForce();
  const bool valid = result == FrameCodec::PanelResult::kValid;
  if (h != nullptr && result != FrameCodec::PanelResult::kBadLength) {
    c_.Deliverer()->RunSync([h, valid, &inForce] {
      if (valid) {
        h->ApplyPanelInfo(inForce);
      } else {
        h->RestorePanelInfo(inForce);
      }
    });
  }
  if (valid || result == FrameCodec::PanelResult::kEmptySilent) return;
  LinkTrace("Fail to read the panel information\n");
  // Shown without waiting: the link is read on while the box is up.
  if (h != nullptr) c_.Deliverer()->Post([h] { h->ShowPanelInfoFailure(); });
}

void CReceiveLoop::Pause(int ms) {
  if (c_.plainPolling.load() || !s_.link->CanWaitForInput()) {
    std::this_thread::sleep_for(milliseconds(ms));
    return;
  }
  auto until = Clock::now() + milliseconds(ms);
  // A wait that gives up early without input (device gone, hang-up) must not make the
  // loop spin: the rest of the time is slept.
  if (!s_.link->WaitForInput(ms)) std::this_thread::sleep_until(until);
}

// Once per session: the link reads as closed and the host hears of it without the receive
// thread waiting for the user-interface thread.
void CReceiveLoop::ReportLinkLost() {
  if (s_.lostReported) return;
  s_.lostReported = true;
  s_.link->SetState(kLinkClosed);
  c_.receiving.store(0);
  LinkTrace("[CTransCtrl] the device went away\n");
  if (ITransHost* h = c_.host.load()) c_.Deliverer()->Post([h] { h->OnLinkLost(); });
}

void CReceiveLoop::Finish() {
  bool closeLink;
  {
    std::lock_guard<std::mutex> lock(s_.mutex);
    s_.done = true;
    closeLink = s_.closeLinkOnExit;
  }
  s_.ended.notify_all();
  if (closeLink && s_.link) s_.link->Close();
}
