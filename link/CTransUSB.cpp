#include "CTransUSB.h"

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
  static const HidPipeApi api{hidOpen, hidOpenMyDevice,   hidEnableRecv, hidRecv,
                              hidSend, RealCloseMyDevice, RealClose,     hidLastError};
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

int CTransUSB::Read(uint8_t* buf) {
  if (!reportKept_) {
    std::memset(report_, 0, sizeof(report_));
    if (api_.recv(report_, 0) == 0) return 0;
  }
  reportKept_ = false;
  int len = FrameCodec::UsbFrameLength(report_);
  std::memcpy(buf, report_, static_cast<size_t>(len));
  return len;
}

bool CTransUSB::WaitForInput(int ms) {
  if (reportKept_) return true;
  std::memset(report_, 0, sizeof(report_));
  reportKept_ = api_.recv(report_, ms < 0 ? 0 : ms) != 0;
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
