#include "TKorvikUsbTransferModuleNotice.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdint>
#include <mutex>
#include <set>

namespace {

// Notice windows alive now; the library's thread may call in while one is destroyed.
std::mutex gLiveMutex;
std::set<TKorvikUsbTransferModuleNotice*>& Live() {
  static std::set<TKorvikUsbTransferModuleNotice*> live;
  return live;
}

}  // namespace

TKorvikUsbTransferModuleNotice::TKorvikUsbTransferModuleNotice(Handler handler)
    : FTarget(std::make_unique<QObject>()), FHandler(std::move(handler)) {
  FWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FWakeFd >= 0) {
    auto* notifier = new QSocketNotifier(FWakeFd, QSocketNotifier::Read, FTarget.get());
    QObject::connect(notifier, &QSocketNotifier::activated, FTarget.get(), [this] { Drain(); });
  }
  std::lock_guard<std::mutex> lock(gLiveMutex);
  Live().insert(this);
}

TKorvikUsbTransferModuleNotice::~TKorvikUsbTransferModuleNotice() {
  Unregister();
  {
    std::lock_guard<std::mutex> lock(gLiveMutex);
    Live().erase(this);
  }
  FTarget.reset();  // the notifier goes before its descriptor
  if (FWakeFd >= 0) close(FWakeFd);
}

bool TKorvikUsbTransferModuleNotice::Register(TKorvikUsbTransferModuleHid& hid) {
  if (!hid.SetNoticeCallback) return false;
  FHid = &hid;
  return hid.SetNoticeCallback(&TKorvikUsbTransferModuleNotice::Callback, this) != 0;
}

void TKorvikUsbTransferModuleNotice::Unregister() {
  if (FHid && FHid->SetNoticeCallback) FHid->SetNoticeCallback(nullptr, nullptr);
  FHid = nullptr;
  std::lock_guard<std::mutex> lock(FQueueMutex);
  FQueue.clear();
}

void TKorvikUsbTransferModuleNotice::Callback(int event, const char* path, void* user) {
  std::lock_guard<std::mutex> lock(gLiveMutex);
  auto* self = static_cast<TKorvikUsbTransferModuleNotice*>(user);
  if (Live().count(self) == 0) return;
  self->Post(event, path);
}

void TKorvikUsbTransferModuleNotice::Post(int event, const char* path) {
  std::string text = path ? path : "";
  // Device paths are kept to 256 characters.
  if (text.size() > 256) text.resize(256);
  {
    std::lock_guard<std::mutex> lock(FQueueMutex);
    FQueue.emplace_back(event, std::move(text));
  }
  const uint64_t one = 1;
  if (FWakeFd >= 0) [[maybe_unused]]
    const auto n = write(FWakeFd, &one, sizeof one);
}

void TKorvikUsbTransferModuleNotice::Drain() {
  uint64_t count = 0;
  [[maybe_unused]] const auto n = read(FWakeFd, &count, sizeof count);
  for (;;) {
    std::pair<int, std::string> notice;
    {
      std::lock_guard<std::mutex> lock(FQueueMutex);
      if (FQueue.empty()) return;
      notice = std::move(FQueue.front());
      FQueue.pop_front();
    }
    FHandler(notice.first, notice.second);
  }
}
