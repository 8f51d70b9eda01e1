// Lumora's one worker thread: opens the HID library, finds the controller among the known
// devices, follows arrival and removal, sends queued commands with retries and polls for
// frames. Every step that touches framework objects runs on the main thread while the
// worker waits.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "calib/framework/TKorvikThread.h"
#include "calib/framework/TKorvikUsbTransferModuleDevices.h"
#include "calib/framework/TKorvikUsbTransferModuleHid.h"
#include "calib/framework/TKorvikUsbTransferModuleMainThread.h"
#include "calib/framework/TKorvikUsbTransferModuleNotice.h"

class TKorvikTouchPanel;
class TKorvikTouchPanelControl;
class TKorvikUsbCommand;
class TKorvikUsbMessageFactory;

class TKorvikUsbTransferModule : public TKorvikThread {
 public:
  static constexpr int RetryLimit = 10;
  static constexpr int RetryDelayMs = 100;
  static constexpr size_t ReceiveBufferSize = 1024;

  // Main thread. Opens the library and scans for a device unless control->NoUsb().
  // The thread is left unstarted; the control starts it.
  TKorvikUsbTransferModule(TKorvikTouchPanelControl* control, TKorvikUsbTransferModuleHid hid);
  // Stops and joins the worker, closes the device and the library.
  ~TKorvikUsbTransferModule() override;

  bool OpenUSB();
  bool OpenDevice(int row);
  static int FindDevice(const std::string& pid, const std::string& vid, const std::string& iface);
  void ScanDevices();
  // The device-change handler (main thread): event HIDPIPE_ARRIVAL or HIDPIPE_REMOVAL.
  void DeviceChange(int event, const std::string& path);

  // Main thread: ends the worker without waiting on the main thread for anything.
  void StopWorker();
  // Forgets the control (its destruction); the worker then finds no panels.
  void DetachControl();

  bool Opened() const { return FOpened; }
  bool NoUsb() const { return FNoUsb; }
  bool DfuMode() const { return FDfuMode; }
  const std::string& DeviceText() const { return FDeviceText; }
  TKorvikUsbTransferModuleNotice& NoticeWindow() { return *FNotice; }

 protected:
  void Execute() override;

 private:
  struct QueuedCommand {
    TKorvikUsbCommand* Command;  // not owned; only compared, never read by the worker
    std::vector<uint8_t> Frame;  // copied on the main thread
  };

  TKorvikTouchPanelControl* Control() const;
  bool OnMain(const std::function<void()>& step);
  void SleepMs(int ms);
  void PickNextCommand();
  void SendStep();
  void ReceiveStep();
  void DispatchReceived();
  bool IsTaken(TKorvikUsbCommand* command) const;
  void SetCommandState(TKorvikUsbCommand* command, uint8_t state);
  void AddPendingPanel();
  void DeviceArrival(int row, const std::string& path);
  void DeviceRemoval();

  bool FReceived = false;
  std::array<uint8_t, ReceiveBufferSize> FRecvBuffer{};
  bool FDfuMode = false;
  std::deque<QueuedCommand> FSendQueue;
  int FFailureCounter = 0;
  std::unique_ptr<TKorvikUsbMessageFactory> FFactory;
  std::unique_ptr<TKorvikTouchPanel> FPendingPanel;
  std::string FDeviceText;
  TKorvikUsbCommand* FInFlight = nullptr;
  bool FNoUsb = false;
  std::unique_ptr<TKorvikUsbTransferModuleNotice> FNotice;
  bool FOpened = false;
  TKorvikUsbCommand* FFailedCommand = nullptr;

  TKorvikUsbTransferModuleHid FHid;
  TKorvikUsbTransferModuleMainThread FMain;
  std::mutex FSleepMutex;
  std::condition_variable FSleepWake;
};
