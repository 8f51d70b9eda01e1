// The link over USB HID, through the hidpipe library.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "CTransIFBase.h"
#include "hidpipe/hidpipe.h"

// The hidpipe calls the link uses; tests hand in their own.
struct HidPipeApi {
  int (*open)(void* host);
  int (*openMyDevice)(uint32_t vid, uint32_t pid, uint32_t iface);
  int (*enableRecv)(int on);
  int (*recv)(uint8_t* buf, int timeoutMs);  // bytes of the report that arrived, 0 = none
  int (*send)(const uint8_t* buf);
  int (*closeMyDevice)();
  int (*close)();
  const char* (*lastError)();  // why the last openMyDevice or send failed; may be null
  // The rest may be null (a library without them).
  int (*sendErrno)();                        // errno of this thread's last failed send
  int (*chooseDevice)(const char* choice);   // node, USB port or serial; "" = any
  int (*openedDevice)(HidDeviceDesc* out);   // the open device
  int (*deviceGone)();                       // the open device failed as a pulled one
  int64_t (*lastReportTime)() = nullptr;       // when the last report received arrived
  int (*wake)() = nullptr;                      // ends a recv that waits without limit
  int (*sendLate)() = nullptr;                  // the last write that outlasted its send

  // The real library.
  static const HidPipeApi& Default();
};

class CTransUSB : public CTransIFBase {
 public:
  static constexpr int kEntries = 3;
  static constexpr uint32_t kInterface = 1;  // the USB interface of the pipe, unless set

  explicit CTransUSB(const HidPipeApi& api = HidPipeApi::Default(), void* host = nullptr);
  ~CTransUSB() override = default;  // the owner closes first

  int Open(const void* settings) override;
  void Close() override;
  int32_t GetState() override { return state_.load(); }
  void SetState(int32_t state) override { state_.store(state); }
  int Read(uint8_t* buf) override;
  int Write(const uint8_t* data, int len) override;
  int GetOSType() override { return openedOSType_; }
  int ReservedQuery1() override { return 1; }
  int ReservedQuery2() override { return 1; }
  void SetVendorIds(const uint16_t* ids) override;
  void SetProductIds(const uint16_t* ids) override;
  void SetOSTypes(const uint16_t* types) override;
  void SetInterfaces(const uint16_t* ifaces) override;
  void SetDeviceChoice(const std::string& choice) override { choice_ = choice; }
  bool IsGone() override;
  int LastWriteError() const override { return writeError_.load(); }
  std::string LastWriteErrorText() const override;
  LinkDevice Device() const override;
  bool WaitForInput(int ms) override;
  bool CanWaitForInput() const override { return true; }
  bool CanWaitUntilWoken() const override { return api_.wake != nullptr; }
  int LateWrite() const override { return api_.sendLate != nullptr ? api_.sendLate() : 0; }
  void WakeWaiter() override;
  std::string OpenFailureText() const override { return openFailure_; }
  std::string Describe() const override;
  uint64_t TruncatedFrames() const override { return truncated_.load(); }
  int64_t LastFrameUs() const override { return lastFrameUs_.load(); }

 private:
  HidPipeApi api_;
  std::atomic<int32_t> state_{kLinkClosed};
  uint16_t vids_[kEntries] = {};
  uint16_t pids_[kEntries] = {};
  uint16_t osTypes_[kEntries] = {};
  uint16_t ifaces_[kEntries] = {kInterface, kInterface, kInterface};
  std::string choice_;
  std::atomic<uint16_t> openedOSType_{0};
  std::atomic<int> openedEntry_{-1};
  uint8_t report_[64] = {};
  bool reportKept_ = false;  // a report taken by WaitForInput awaits the next Read
  std::atomic<uint64_t> truncated_{0};
  std::atomic<int64_t> lastFrameUs_{0};

  // Takes the next whole frame into report_, waiting up to ms for one (negative: until
  // one comes or the wait is woken).
  bool TakeReport(int ms);
  std::string openFailure_;
  std::atomic<int> writeError_{0};
  mutable std::mutex writeErrorMutex_;
  std::string writeErrorText_;
};
