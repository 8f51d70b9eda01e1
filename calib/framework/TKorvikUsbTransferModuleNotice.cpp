#include "TKorvikUsbTransferModuleNotice.h"

#include <QMetaObject>
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
  std::lock_guard<std::mutex> lock(gLiveMutex);
  Live().insert(this);
}

TKorvikUsbTransferModuleNotice::~TKorvikUsbTransferModuleNotice() {
  Unregister();
  std::lock_guard<std::mutex> lock(gLiveMutex);
  Live().erase(this);
}

bool TKorvikUsbTransferModuleNotice::Register(TKorvikUsbTransferModuleHid& hid) {
  if (!hid.SetNoticeCallback) return false;
  FHid = &hid;
  return hid.SetNoticeCallback(&TKorvikUsbTransferModuleNotice::Callback, this) != 0;
}

void TKorvikUsbTransferModuleNotice::Unregister() {
  if (FHid && FHid->SetNoticeCallback) FHid->SetNoticeCallback(nullptr, nullptr);
  FHid = nullptr;
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
  QMetaObject::invokeMethod(
      FTarget.get(), [this, event, text] { FHandler(event, text); }, Qt::QueuedConnection);
}
