// One run of the receive thread: its link, buffer and stop flag. Shared with the thread,
// so a thread that outlives Close keeps them alive.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "CTransIFBase.h"
#include "DecodedFrame.h"

struct ReceiveSession {
  static constexpr int kBufferSize = 4096;

  std::shared_ptr<CTransIFBase> link;
  std::atomic<bool> running{true};
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  bool closeLinkOnExit = false;
  bool lostReported = false;  // receive thread only
  std::string retried;        // receive thread only: a queued opening query tried once more
  uint8_t buf[kBufferSize + 16] = {};
  DecodedFrame decoded;  // receive thread only: what buf was decoded into
};
