// The way out: command strings become frames on the current link, a busy link queues
// them (CPendingQueue), and failed writes are kept for the user to read. Any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "CLinkHolder.h"
#include "CommandString.h"

class CSendPath {
 public:
  // Why a send returned -1.
  enum class Outcome { kWritten, kRefused, kNoLink, kQueued, kWriteFailed };

  explicit CSendPath(CLinkHolder& link) : link_(link) {}

  // result: the link's Write result, or -1.
  Outcome Send(std::string_view cmd, int queueIfBusy, int& result);
  // Writes whatever the command becomes on the current link, busy or not; -1 when nothing
  // went out.
  int SendDirect(std::string_view cmd);
  // Writes an opening query, once more when the first write fails.
  void SendOpening(const char* cmd);
  // Receive thread, on a quiet poll: sends the first queued command. quiet counts up
  // when nothing was sent; retried is the receive thread's note of an opening query
  // tried once more.
  void SendQueued(int& quiet, std::string& retried);
  // A new link: no failure of the last one counts.
  void Reset();

  // What became of a command whose write the device had not taken in time (a failed
  // Send with the writes stalled).
  enum class Late { kUnderWay, kWentOut, kFailed };
  // kWentOut: it went out after all, noted as written; kFailed: it ended with an error
  // (the failure now says which), or this path's last write was never begun.
  Late SettleLate(std::string_view cmd);

  int CommandSent() const { return commandSent_.load(); }
  std::string LastFailure() const;
  uint64_t Failures() const { return failures_.load(); }
  std::string OpeningFailure() const;
  bool WritesStalled() const { return writesStalled_.load(); }
  int ReportTarget() const { return reportTarget_.load(); }
  int ReportPermission() const { return reportPermission_.load(); }

 private:
  struct Buffers {
    uint8_t usb[CommandString::kUsbBufferSize];
    uint8_t packet[CommandString::kMaxPacketSize];
  };
  // The frame cmd becomes on the current link's encoding (in one of the buffers); its
  // length, or -1.
  int Encode(std::string_view cmd, Buffers& buffers, const uint8_t*& frame) const;
  int WriteFrame(CTransIFBase& link, const uint8_t* frame, int len);
  void NoteFailure(std::string_view cmd, const CTransIFBase& link);
  void NoteFailure(std::string_view cmd, int error, std::string reason);
  void NoteWritten(const uint8_t* frame, int len);
  // A write that outlasted its wait went out after all: noted as cmd's frame written.
  void NoteWentOutLate(std::string_view cmd);
  // An opening query could not be written even a second time.
  void GiveUpOpening();
  // An opening query whose write outlasted its wait goes to the receive thread, which
  // writes it again once that write has ended.
  void DeferOpening(std::string_view cmd);
  void MarkDeferred(std::string_view cmd);
  // Receive thread, cmd first in the queue: true when cmd, the deferred opening query, is
  // settled for this poll: its write still under way (waited for), gone out in the end
  // (dropped from the queue), or outlasting its grace (dropped, the opening given up).
  // False when it is not that query, or its write failed and it is to be written again.
  bool SettleDeferred(const std::string& cmd);
  // cmd was the deferred query, now tried once more; forgets it.
  bool TakeDeferred(const std::string& cmd);

  CLinkHolder& link_;
  std::atomic<int> commandSent_{0};
  std::atomic<int> reportTarget_{0};
  std::atomic<int> reportPermission_{0};
  // The last write that failed, as the user reads it; writesStalled while the last write
  // failed because the device took nothing in time.
  mutable std::mutex failureMutex_;
  std::string failure_;
  std::string openingFailure_;  // an opening query given up
  std::atomic<uint64_t> failures_{0};
  std::atomic<bool> writesStalled_{false};
  // The last write failed because it outlasted its wait: it may still go out (the
  // library's late write is this one).
  std::atomic<bool> ownWriteLate_{false};
  std::mutex deferMutex_;
  std::string deferred_;
  bool deferredOwn_ = false;  // the deferred query's own write is the late one
  std::chrono::steady_clock::time_point deferredUntil_;
};
