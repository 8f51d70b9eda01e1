#include "CSendPath.h"

#include <cerrno>
#include <cstring>

#include "CPendingQueue.h"
#include "CommandString.h"
#include "LinkTrace.h"
#include "OpeningQueries.h"

namespace {
// How long an opening write that outlasted its wait may still take before the device is
// taken for one that takes nothing (a busy host can take this long; the kernel gives a
// stalled transfer 5 s).
constexpr int kSlowWriteGraceMs = 2000;
}  // namespace

int CSendPath::Encode(std::string_view cmd, Buffers& b, const uint8_t*& frame) const {
  const int enc = link_.Encoding();
  if (enc == kEncodingBinary) {
    frame = b.usb;
    return CommandString::ToUsbFrame(cmd, b.usb);
  }
  if (enc == kEncodingAscii) {
    frame = b.packet;
    return CommandString::ToSerialPacket(cmd, b.packet);
  }
  return -1;
}

CSendPath::Outcome CSendPath::Send(std::string_view cmd, int queueIfBusy, int& result) {
  result = -1;
  Buffers buffers;
  const uint8_t* frame = nullptr;
  const int frameLen = Encode(cmd, buffers, frame);
  if (frameLen < 0) {
    return link_.Encoding() == kEncodingNone && CommandString::HexStart(cmd) >= 0
               ? Outcome::kNoLink
               : Outcome::kRefused;
  }
  auto current = link_.Current();
  if (!current || current->GetState() == kLinkClosed) return Outcome::kNoLink;
  const bool idle = current->GetState() == kLinkIdle && CPendingQueue::Instance().Empty();
  if (!idle && queueIfBusy != 0) {
    CPendingQueue::Instance().Push(std::string(cmd));
    current->WakeWaiter();  // the receive thread sends it
    return Outcome::kQueued;
  }
  current->SetState(kLinkBusy);
  result = WriteFrame(*current, frame, frameLen);
  commandSent_.store(1);
  if (result == -1) {
    // Nothing went out, so no reply is awaited.
    if (current->GetState() == kLinkBusy) current->SetState(kLinkIdle);
    NoteFailure(cmd, *current);
    return Outcome::kWriteFailed;
  }
  NoteWritten(frame, frameLen);
  return Outcome::kWritten;
}

int CSendPath::SendDirect(std::string_view cmd) {
  Buffers buffers;
  const uint8_t* frame = nullptr;
  const int frameLen = Encode(cmd, buffers, frame);
  auto current = link_.Current();
  if (frameLen < 0 || !current) return -1;
  const int result = WriteFrame(*current, frame, frameLen);
  commandSent_.store(1);
  return result;
}

void CSendPath::NoteWritten(const uint8_t* frame, int len) {
  writesStalled_.store(false);
  ownWriteLate_.store(false);
  if (len >= 5 && frame[1] == 0x4C) {
    if (frame[3] == 0x05) reportTarget_.store(frame[4]);
    if (frame[3] == 0x08) reportPermission_.store(frame[4]);
  }
}

void CSendPath::NoteFailure(std::string_view cmd, const CTransIFBase& link) {
  NoteFailure(cmd, link.LastWriteError(), link.LastWriteErrorText());
}

void CSendPath::NoteFailure(std::string_view cmd, int error, std::string reason) {
  const std::string lead = "could not send: ";
  if (reason.rfind(lead, 0) == 0) reason.erase(0, lead.size());
  if (reason.empty()) reason = error != 0 ? std::strerror(error) : "the link refused it";
  const std::string text = "could not send " + CommandString::Name(cmd) + ": " + reason;
  LinkTrace("[CTransCtrl] %s\n", text.c_str());
  // EBUSY: an earlier write is still under way, so the device still takes nothing.
  writesStalled_.store(error == ETIMEDOUT || error == EBUSY);
  ownWriteLate_.store(error == ETIMEDOUT);
  {
    std::lock_guard<std::mutex> lock(failureMutex_);
    failure_ = text;
  }
  ++failures_;
}

void CSendPath::SendOpening(const char* cmd) {
  const std::string_view text(cmd);
  int result = -1;
  if (Send(text, 1, result) != Outcome::kWriteFailed) return;
  // Not taken within the wait: the device may stall, or a busy host may not have finished
  // the write yet. Which one shows only later, and not on the caller's thread.
  if (writesStalled_.load()) {
    DeferOpening(text);
    return;
  }
  if (Send(text, 1, result) == Outcome::kWriteFailed) GiveUpOpening();
}

void CSendPath::MarkDeferred(std::string_view cmd) {
  std::lock_guard<std::mutex> lock(deferMutex_);
  deferred_ = std::string(cmd);
  deferredOwn_ = ownWriteLate_.load();
  deferredUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSlowWriteGraceMs);
}

void CSendPath::DeferOpening(std::string_view cmd) {
  MarkDeferred(cmd);
  CPendingQueue::Instance().Push(std::string(cmd));
  if (auto current = link_.Current()) current->WakeWaiter();
}

bool CSendPath::SettleDeferred(const std::string& cmd) {
  std::lock_guard<std::mutex> lock(deferMutex_);
  if (deferred_.empty() || deferred_ != cmd) return false;
  auto current = link_.Current();
  const int late = current ? current->LateWrite() : 0;
  const bool underWay = late == -1;
  if (underWay && std::chrono::steady_clock::now() < deferredUntil_) return true;
  // It failed in the end, or the write that ended was an earlier one: written once more.
  if (late > 0 || (!underWay && !deferredOwn_)) return false;
  deferred_.clear();
  CPendingQueue::Instance().PopFront(cmd);
  if (underWay) {
    GiveUpOpening();  // still not taken after the grace: a device that takes nothing
    return true;
  }
  NoteWentOutLate(cmd);  // its answer comes as any other
  return true;
}

bool CSendPath::TakeDeferred(const std::string& cmd) {
  std::lock_guard<std::mutex> lock(deferMutex_);
  if (deferred_.empty() || deferred_ != cmd) return false;
  deferred_.clear();
  return true;
}

CSendPath::Late CSendPath::SettleLate(std::string_view cmd) {
  if (!ownWriteLate_.load()) return Late::kFailed;
  auto current = link_.Current();
  const int late = current ? current->LateWrite() : ENODEV;
  if (late == -1) return Late::kUnderWay;
  if (late != 0) {
    NoteFailure(cmd, late, std::strerror(late));
    ownWriteLate_.store(false);
    return Late::kFailed;
  }
  NoteWentOutLate(cmd);
  return Late::kWentOut;
}

void CSendPath::NoteWentOutLate(std::string_view cmd) {
  Buffers buffers;
  const uint8_t* frame = nullptr;
  const int len = Encode(cmd, buffers, frame);
  if (len > 0) NoteWritten(frame, len);
}

void CSendPath::GiveUpOpening() {
  std::lock_guard<std::mutex> lock(failureMutex_);
  if (openingFailure_.empty()) openingFailure_ = failure_;
}

void CSendPath::SendQueued(int& quiet, std::string& retried) {
  std::string cmd;
  if (!CPendingQueue::Instance().Front(cmd) || SettleDeferred(cmd)) {
    ++quiet;
    return;
  }
  int result = -1;
  const Outcome outcome = Send(cmd, 0, result);
  // A string that can no longer become a frame (the link changed kind) would block the
  // queue for good: it is dropped. So is a command whose write failed: an opening query is
  // tried once more, a user's command is never written again behind the user's back.
  const bool wasDeferred = TakeDeferred(cmd);
  bool drop = outcome == Outcome::kWritten || outcome == Outcome::kRefused;
  if (outcome == Outcome::kWriteFailed) {
    const bool opening = OpeningQueries::IsOne(cmd);
    if (opening && !wasDeferred && writesStalled_.load()) {
      MarkDeferred(cmd);  // its write goes on: it stays first until that write has ended
      ++quiet;
      return;
    }
    drop = !opening || retried == cmd || wasDeferred;
    if (opening && drop) GiveUpOpening();
    retried = drop ? std::string() : cmd;
  }
  if (drop) CPendingQueue::Instance().PopFront(cmd);
  // A link that takes nothing is polled at the quiet rate, not in a tight loop.
  if (outcome != Outcome::kWritten && outcome != Outcome::kRefused) ++quiet;
}

void CSendPath::Reset() {
  writesStalled_.store(false);
  ownWriteLate_.store(false);
  {
    std::lock_guard<std::mutex> lock(deferMutex_);
    deferred_.clear();
  }
  std::lock_guard<std::mutex> lock(failureMutex_);
  openingFailure_.clear();
}

std::string CSendPath::LastFailure() const {
  std::lock_guard<std::mutex> lock(failureMutex_);
  return failure_;
}

std::string CSendPath::OpeningFailure() const {
  std::lock_guard<std::mutex> lock(failureMutex_);
  return openingFailure_;
}

int CSendPath::WriteFrame(CTransIFBase& link, const uint8_t* frame, int len) {
  // Recorded before it goes out, so that its reply, read on the receive thread, can never
  // be recorded ahead of it.
  if (auto rec = link_.Recorder()) {
    rec->OnLinkFrame(link_.Type(), true, RecorderClockUs(), frame, len);
  }
  return link.Write(frame, len);
}
