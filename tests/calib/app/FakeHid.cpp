#include "FakeHid.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

void FakeHid::Record(const std::string& call) {
  std::lock_guard<std::mutex> lock(FMutex);
  FCalls.push_back(call);
}

TKorvikUsbTransferModuleHid FakeHid::Table() {
  TKorvikUsbTransferModuleHid hid;
  hid.Open = [this](void*) {
    Record("open");
    return 1;
  };
  hid.OpenMyDevice = [this](uint32_t vid, uint32_t pid, uint32_t iface) {
    char text[64];
    std::snprintf(text, sizeof text, "open-device %04X %04X %u", vid, pid, iface);
    Record(text);
    FLastError = pid == RefusedPid ? Refusal : "";
    return PresentPids.count(pid) ? 1 : 0;
  };
  hid.LastError = [this] { return FLastError.c_str(); };
  hid.EnableRecv = [this](int on) {
    Record("enable " + std::to_string(on));
    return 1;
  };
  hid.Recv = [this](uint8_t* buf, int) {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FInput.empty()) return 0;
    const auto [frame, received] = FInput.front();
    FInput.pop_front();
    std::memset(buf, 0, 64);
    std::memcpy(buf, frame.data(), std::min<size_t>(std::min(64, received), frame.size()));
    return received;
  };
  hid.Send = [this](const uint8_t* buf) {
    ++FSendAttempts;
    int failures = SendFailures.load();
    if (failures < 0) return 0;
    if (failures > 0) {
      SendFailures.store(failures - 1);
      return 0;
    }
    std::lock_guard<std::mutex> lock(FMutex);
    const size_t length = buf[0] == 0x02 ? buf[2] + 3u : 8u;
    FSent.emplace_back(buf, buf + length);
    return 1;
  };
  hid.CloseMyDevice = [this] {
    Record("close-device");
    return CloseDeviceOk.load() ? 1 : 0;
  };
  hid.Close = [this] {
    Record("close");
    return 1;
  };
  hid.SetNoticeCallback = [this](HidNoticeFn fn, void* user) {
    std::lock_guard<std::mutex> lock(FMutex);
    FNotice = fn;
    FNoticeUser = user;
    return 1;
  };
  return hid;
}

void FakeHid::QueueInput(std::vector<uint8_t> frame, int received) {
  std::lock_guard<std::mutex> lock(FMutex);
  FInput.emplace_back(std::move(frame), received);
}

void FakeHid::Notify(int event, const std::string& path) {
  HidNoticeFn fn;
  void* user;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    fn = FNotice;
    user = FNoticeUser;
  }
  if (fn) fn(event, path.c_str(), user);
}

std::vector<std::string> FakeHid::Calls() {
  std::lock_guard<std::mutex> lock(FMutex);
  return FCalls;
}

size_t FakeHid::CountCalls(const std::string& prefix) {
  std::lock_guard<std::mutex> lock(FMutex);
  return std::count_if(FCalls.begin(), FCalls.end(),
                       [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
}

std::vector<std::vector<uint8_t>> FakeHid::Sent() {
  std::lock_guard<std::mutex> lock(FMutex);
  return FSent;
}
