// The transfer module's notice window: device notices of the HID library, which arrive on
// a thread of the library, are handed to the main thread with a queued call.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "TKorvikUsbTransferModuleHid.h"

class TKorvikUsbTransferModuleNotice {
 public:
  using Handler = std::function<void(int event, const std::string& path)>;

  // Built on the main thread; the handler runs there, one notice at a time.
  explicit TKorvikUsbTransferModuleNotice(Handler handler);
  ~TKorvikUsbTransferModuleNotice();
  TKorvikUsbTransferModuleNotice(const TKorvikUsbTransferModuleNotice&) = delete;
  TKorvikUsbTransferModuleNotice& operator=(const TKorvikUsbTransferModuleNotice&) = delete;

  // Registers with the library; notices flow from then on.
  bool Register(TKorvikUsbTransferModuleHid& hid);
  // Stops the flow; notices already queued are dropped.
  void Unregister();

  // Any thread: queues one notice for the main thread.
  void Post(int event, const char* path);

  // The "window handle" given to the library.
  void* Handle() const { return FTarget.get(); }

 private:
  static void Callback(int event, const char* path, void* user);

  std::unique_ptr<QObject> FTarget;
  Handler FHandler;
  TKorvikUsbTransferModuleHid* FHid = nullptr;
};
