// A stand-in for the HID library: records every call, answers as configured.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "calib/framework/TKorvikUsbTransferModuleHid.h"

class FakeHid {
 public:
  TKorvikUsbTransferModuleHid Table();

  // What the fake does.
  std::set<uint32_t> PresentPids{0x0102};
  std::atomic<bool> CloseDeviceOk{true};
  std::atomic<int> SendFailures{0};  // next sends that fail; -1: all fail
  // A device of this product is found but refused, for this reason (LastError).
  uint32_t RefusedPid = 0;
  std::string Refusal;

  // A report: the frame, of which received bytes arrive (a whole report: 64).
  void QueueInput(std::vector<uint8_t> frame, int received = 64);
  void Notify(int event, const std::string& path);

  std::vector<std::string> Calls();
  size_t CountCalls(const std::string& prefix);
  std::vector<std::vector<uint8_t>> Sent();
  int SendAttempts() { return FSendAttempts.load(); }

 private:
  void Record(const std::string& call);

  std::mutex FMutex;
  std::vector<std::string> FCalls;
  std::deque<std::pair<std::vector<uint8_t>, int>> FInput;
  std::vector<std::vector<uint8_t>> FSent;
  std::atomic<int> FSendAttempts{0};
  HidNoticeFn FNotice = nullptr;
  void* FNoticeUser = nullptr;
  std::string FLastError;  // set and read on the worker thread only
};
