// A scripted link for the shell tests: open results, link state, written frames, streams.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "link/CTransIFBase.h"

struct ShellLinkLog {
  std::mutex mutex;
  std::vector<std::vector<uint8_t>> written;
  std::vector<int> opened;  // link types, in order
  SerialLineSettings lastSerial;
  std::atomic<int> openResult{1};
  std::atomic<int> writeResult{0};
  std::atomic<bool> holdBusy{false};  // the link stays busy after a write (no replies)
  std::atomic<bool> streaming{false};

  std::vector<std::vector<uint8_t>> Take() {
    std::lock_guard lock(mutex);
    auto out = std::move(written);
    written.clear();
    return out;
  }
};

class ShellFakeLink : public CTransIFBase {
 public:
  ShellFakeLink(ShellLinkLog& log, int type) : log_(log), type_(type) {}
  int Open(const void* settings) override {
    {
      std::lock_guard lock(log_.mutex);
      log_.opened.push_back(type_);
      if (settings != nullptr) log_.lastSerial = *static_cast<const SerialLineSettings*>(settings);
    }
    const int r = log_.openResult;
    state_ = r == 1 ? kLinkIdle : kLinkClosed;
    return r;
  }
  void Close() override { state_ = kLinkClosed; }
  int32_t GetState() override { return state_; }
  void SetState(int32_t s) override {
    if (s == kLinkBusy && !log_.holdBusy) return;  // answered at once
    state_ = s;
  }
  int Read(uint8_t* buf) override {
    if (!log_.streaming) return 0;
    const uint8_t report[] = {0x02, 0x4B, 0x08, 0x10, 0x00, 0x00, 0x01, 0x01, 0xE8, 0x03, 0xE8};
    std::copy(std::begin(report), std::end(report), buf);
    return static_cast<int>(sizeof(report));
  }
  int Write(const uint8_t* data, int len) override {
    if (log_.writeResult == -1 || state_ == kLinkClosed) return -1;  // no device behind it
    const int n = (len >= 3 && data[0] == 0x02) ? std::min(len, data[2] + 3) : len;
    std::lock_guard lock(log_.mutex);
    log_.written.emplace_back(data, data + n);
    return n;
  }

 private:
  ShellLinkLog& log_;
  int type_;
  std::atomic<int32_t> state_{kLinkClosed};
};
