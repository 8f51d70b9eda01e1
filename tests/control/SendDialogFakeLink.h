// A scripted link for the Firmware Control Window tests: records every frame written.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "link/CTransIFBase.h"

struct SendDialogLinkLog {
  std::mutex mutex;
  std::vector<std::vector<uint8_t>> written;
  std::atomic<int32_t> state{kLinkIdle};  // what the link reports; writes do not change it
  std::atomic<int> writeResult{0};        // -1 makes every write fail
  std::atomic<bool> streaming{false};
  std::vector<uint8_t> once;  // one frame the next Read returns

  std::vector<std::vector<uint8_t>> Take() {
    std::lock_guard lock(mutex);
    auto out = std::move(written);
    written.clear();
    return out;
  }
};

class SendDialogFakeLink : public CTransIFBase {
 public:
  explicit SendDialogFakeLink(SendDialogLinkLog& log) : log_(log) {}
  int Open(const void*) override { return 1; }
  int32_t GetState() override { return log_.state; }
  void SetState(int32_t) override {}
  int Read(uint8_t* buf) override {
    {
      std::lock_guard lock(log_.mutex);
      if (!log_.once.empty()) {
        std::copy(log_.once.begin(), log_.once.end(), buf);
        const int n = static_cast<int>(log_.once.size());
        log_.once.clear();
        return n;
      }
    }
    if (!log_.streaming) return 0;
    const uint8_t report[] = {0x02, 0x4B, 0x08, 0x10, 0x00, 0x00, 0x01, 0x01, 0xE8, 0x03, 0xE8};
    std::copy(std::begin(report), std::end(report), buf);
    return static_cast<int>(sizeof(report));
  }
  int Write(const uint8_t* data, int len) override {
    if (log_.writeResult == -1) return -1;
    // A type 0x02 frame is byte 2 + 3 bytes long; the rest of the buffer is padding.
    const int n = (len >= 3 && data[0] == 0x02) ? std::min(len, data[2] + 3) : len;
    std::lock_guard lock(log_.mutex);
    log_.written.emplace_back(data, data + n);
    return n;
  }

 private:
  SendDialogLinkLog& log_;
};
