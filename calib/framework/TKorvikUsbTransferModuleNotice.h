// The transfer module's notice window: device notices of the HID library, which arrive on
// a thread of the library, are handed to the main thread through a queue of our own (under
// our mutex, woken by an event descriptor), so the hand-over is visible to the thread
// sanitizer.
#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

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
  // Main thread: runs the handler for every queued notice.
  void Drain();

  std::unique_ptr<QObject> FTarget;
  Handler FHandler;
  TKorvikUsbTransferModuleHid* FHid = nullptr;
  int FWakeFd = -1;
  std::mutex FQueueMutex;
  std::deque<std::pair<int, std::string>> FQueue;
};
