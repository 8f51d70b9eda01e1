#include "CTransUSB.h"

#include <cerrno>
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
  static const HidPipeApi api{hidOpen,       hidOpenMyDevice,   hidEnableRecv,   hidRecvReport,
                              hidSend,       RealCloseMyDevice, RealClose,       hidLastError,
                              hidSendErrno,  hidChooseDevice,   hidOpenedDevice, hidDeviceGone,
                              hidLastReportTime, hidRecvWake, hidSendLate};
  return api;
}

CTransUSB::CTransUSB(const HidPipeApi& api, void* host) : api_(api) {
  api_.open(host);  // result not looked at
}

namespace {

// hidpipe says where the pipe is when the identity's device has it on another
// interface; the settings key that moves us there is added.
std::string WithInterfaceHint(std::string why, int entry) {
  const std::string mark = "has its pipe on interface ";
  const size_t at = why.find(mark);
  if (at == std::string::npos) return why;
  const size_t from = at + mark.size();
  const std::string n = why.substr(from, why.find_first_not_of("0123456789", from) - from);
  return why + ": set Interface" + std::to_string(entry == 0 ? 1 : 2) + "=" + n +
         " or use --interface " + n;
}

}  // namespace

int CTransUSB::Open(const void* /*settings*/) {
  openFailure_.clear();
  if (api_.chooseDevice != nullptr) api_.chooseDevice(choice_.c_str());
  for (int k = 0; k < kEntries; ++k) {
    if (api_.openMyDevice(vids_[k], pids_[k], ifaces_[k]) != 0) {
      openFailure_.clear();
      state_.store(kLinkIdle);
      openedOSType_.store(osTypes_[k]);
      openedEntry_.store(k);
      api_.enableRecv(1);
      LinkTrace("[CTransUSB::Open] entry %d opened\n", k);
      return 1;
    }
    const char* reason = api_.lastError != nullptr ? api_.lastError() : nullptr;
    const std::string why = WithInterfaceHint(reason != nullptr ? reason : "", k);
    if (!why.empty() && openFailure_.find(why) == std::string::npos) openFailure_ += why + "\n";
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
    if (ms < 0) continue;
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
  reportKept_ = TakeReport(ms < 0 && api_.wake == nullptr ? 0 : ms);
  return reportKept_;
}

void CTransUSB::WakeWaiter() {
  if (api_.wake != nullptr) api_.wake();
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
  if (result != 0) return result;
  const int error = api_.sendErrno != nullptr ? api_.sendErrno() : 0;
  const char* text = api_.lastError != nullptr ? api_.lastError() : nullptr;
  {
    std::lock_guard lock(writeErrorMutex_);
    writeErrorText_ = text != nullptr ? text : "";
  }
  writeError_.store(error != 0 ? error : EIO);
  return -1;
}

std::string CTransUSB::LastWriteErrorText() const {
  std::lock_guard lock(writeErrorMutex_);
  return writeErrorText_;
}

bool CTransUSB::IsGone() {
  return api_.deviceGone != nullptr && api_.deviceGone() != 0;
}

LinkDevice CTransUSB::Device() const {
  LinkDevice d;
  const int k = openedEntry_.load();
  if (k < 0) return d;
  d.vid = vids_[k];
  d.pid = pids_[k];
  d.iface = ifaces_[k];
  d.bus = "USB";
  HidDeviceDesc desc{};
  if (api_.openedDevice == nullptr || api_.openedDevice(&desc) == 0) return d;
  static const char* const kBuses[] = {"unknown", "USB", "Bluetooth", "I2C", "SPI"};
  d.node = desc.path;
  d.bus = desc.bus >= 0 && desc.bus <= 4 ? kBuses[desc.bus] : "unknown";
  d.vid = desc.vid;
  d.pid = desc.pid;
  d.iface = desc.iface;
  d.serial = desc.serial;
  d.port = desc.port;
  return d;
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
void CTransUSB::SetInterfaces(const uint16_t* ifaces) {
  std::memcpy(ifaces_, ifaces, sizeof(ifaces_));
}

std::string CTransUSB::Describe() const {
  const int k = openedEntry_.load();
  if (k < 0) return {};
  char text[80];
  std::snprintf(text, sizeof text, "vid=%04X pid=%04X iface=%u ostype=%u", vids_[k], pids_[k],
                unsigned{ifaces_[k]}, unsigned{openedOSType_.load()});
  std::string out = text;
  const LinkDevice d = Device();
  if (!d.node.empty()) out += " node=" + d.node;
  if (!d.serial.empty()) out += " serial=" + d.serial;
  if (!d.port.empty()) out += " port=" + d.port;
  return out;
}
