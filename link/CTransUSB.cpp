#include "CTransUSB.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "CommandString.h"
#include "FrameCodec.h"
#include "LinkTrace.h"
#include "hidpipe/hidpipe.h"

namespace {
int RealClose() {
  return hidClose();
}
int RealCloseMyDevice() {
  return hidCloseMyDevice();
}
}  // namespace

const HidPipeApi& HidPipeApi::Default() {
  static const HidPipeApi api{hidOpen, hidOpenMyDevice,   hidEnableRecv, hidRecvReport,
                              hidSend, RealCloseMyDevice, RealClose,     hidLastError,
                              hidLastReportTime};
  return api;
}

CTransUSB::CTransUSB(const HidPipeApi& api, void* host) : api_(api) {
  api_.open(host);  // result not looked at
}

int CTransUSB::Open(const void* /*settings*/) {
  openFailure_.clear();
  for (int k = 0; k < kEntries; ++k) {
    if (api_.openMyDevice(vids_[k], pids_[k], kInterface) != 0) {
      openFailure_.clear();
      state_.store(kLinkIdle);
      openedOSType_.store(osTypes_[k]);
      openedEntry_.store(k);
      api_.enableRecv(1);
      LinkTrace("[CTransUSB::Open] entry %d opened\n", k);
      return 1;
    }
    const char* why = api_.lastError != nullptr ? api_.lastError() : nullptr;
    if (why != nullptr && *why != '\0' && openFailure_.find(why) == std::string::npos)
      openFailure_ += std::string(why) + "\n";
  }
  LinkTrace("[CTransUSB::Open] no device\n");
  return 0;
}

void CTransUSB::Close() {
  if (api_.closeMyDevice() == 0) return;
  if (api_.close() == 0) return;
  state_.store(kLinkClosed);
}

bool CTransUSB::TakeReport(int ms) {
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    std::memset(report_, 0, sizeof(report_));
    const int received = api_.recv(report_, ms);
    if (received <= 0) return false;
    if (hidFrameTruncated(report_, received) == 0) {
      lastFrameUs_.store(api_.lastReportTime ? api_.lastReportTime() : 0);
      return true;
    }
    // Cut short on the way: the zeros after what arrived are no data.
    ++truncated_;
    LinkTrace("[CTransUSB::Read] truncated frame dropped: %d bytes of %02X %02X %02X\n", received,
              report_[0], report_[1], report_[2]);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    ms = left > 0 ? static_cast<int>(left) : 0;
  }
}

int CTransUSB::Read(uint8_t* buf) {
  if (!reportKept_ && !TakeReport(0)) return 0;
  reportKept_ = false;
  int len = FrameCodec::UsbFrameLength(report_);
  std::memcpy(buf, report_, static_cast<size_t>(len));
  return len;
}

bool CTransUSB::WaitForInput(int ms) {
  if (reportKept_) return true;
  reportKept_ = TakeReport(ms < 0 ? 0 : ms);
  return reportKept_;
}

int CTransUSB::Write(const uint8_t* data, int len) {
  // hidpipe reads the frame from a zero-filled 128-byte buffer; callers holding a shorter
  // buffer are copied so nothing past their bytes is read.
  uint8_t buffer[CommandString::kUsbBufferSize] = {};
  if (data != nullptr && len > 0) {
    std::memcpy(buffer, data,
                static_cast<size_t>(len < int(sizeof(buffer)) ? len : sizeof(buffer)));
  }
  int result = api_.send(buffer);
  return result != 0 ? result : -1;
}

void CTransUSB::SetVendorIds(const uint16_t* ids) {
  std::memcpy(vids_, ids, sizeof(vids_));
}
void CTransUSB::SetProductIds(const uint16_t* ids) {
  std::memcpy(pids_, ids, sizeof(pids_));
}
void CTransUSB::SetOSTypes(const uint16_t* types) {
  std::memcpy(osTypes_, types, sizeof(osTypes_));
}

std::string CTransUSB::Describe() const {
  const int k = openedEntry_.load();
  if (k < 0) return {};
  char text[80];
  std::snprintf(text, sizeof text, "vid=%04X pid=%04X iface=%u ostype=%u", vids_[k], pids_[k],
                kInterface, unsigned{openedOSType_.load()});
  return text;
}
