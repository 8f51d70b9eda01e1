#include "calib/framework/TKorvikUsbTransferModule.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "calib/framework/TKorvikTouchPanel.h"
#include "calib/framework/TKorvikTouchPanelControl.h"
#include "calib/framework/TKorvikUsbCommand.h"
#include "calib/framework/TKorvikUsbMessageFactory.h"
#include "calib/framework/TKorvikUsbTransaction.h"

namespace {

constexpr const char* kDefaultPanelKey = "DefaultPanel";
constexpr int kLibraryDelayMs = 20;

void Pause(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

TKorvikUsbTransferModule::TKorvikUsbTransferModule(TKorvikTouchPanelControl* control,
                                                   TKorvikUsbTransferModuleHid hid)
    : TKorvikThread(control), FHid(std::move(hid)) {
  FFactory = std::make_unique<TKorvikUsbMessageFactory>(LogObject());
  FNotice = std::make_unique<TKorvikUsbTransferModuleNotice>(
      [this](int event, const std::string& path) { DeviceChange(event, path); });
  FNoUsb = control ? control->NoUsb() : true;
  OpenUSB();
  ScanDevices();
  // Notices flow from the end of the scan on: a device already present is the scan's, and
  // the library's report of what was plugged before must not add it a second time.
  if (!FNoUsb && FOpened) FNotice->Register(FHid);
}

TKorvikUsbTransferModule::~TKorvikUsbTransferModule() {
  StopWorker();
  // No notice may reach a half-destroyed module.
  FNotice->Unregister();
  if (FOpened && !FNoUsb) {
    FHid.CloseMyDevice();
    Pause(kLibraryDelayMs);
    FOpened = false;
    FHid.Close();
  }
  FPendingPanel.reset();
  FSendQueue.clear();
  FFactory.reset();
  FNotice.reset();
}

TKorvikTouchPanelControl* TKorvikUsbTransferModule::Control() const {
  return dynamic_cast<TKorvikTouchPanelControl*>(OwnerObject());
}

void TKorvikUsbTransferModule::StopWorker() {
  Terminate();
  {
    std::lock_guard<std::mutex> lock(FSleepMutex);
    FSleepWake.notify_all();
  }
  FMain.Cancel();
  WaitFor();
}

void TKorvikUsbTransferModule::DetachControl() {
  SetOwnerObject(nullptr);
}

bool TKorvikUsbTransferModule::OnMain(const std::function<void()>& step) {
  return FMain.Run(step);
}

void TKorvikUsbTransferModule::SleepMs(int ms) {
  std::unique_lock<std::mutex> lock(FSleepMutex);
  FSleepWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Terminated(); });
}

// ---- opening -------------------------------------------------------------------------

bool TKorvikUsbTransferModule::OpenUSB() {
  if (FNoUsb) return false;
  FOpened = FHid.Open && FHid.Open(FNotice->Handle()) != 0;
  Pause(kLibraryDelayMs);
  Log(FOpened ? "TKorvikUsbTransferModule.OpenUSB success. hidOpen success."
              : "TKorvikUsbTransferModule.OpenUSB failed. hidOpen failed.",
      5);
  return FOpened;
}

bool TKorvikUsbTransferModule::OpenDevice(int row) {
  if (FNoUsb) return false;
  const TKorvikUsbDeviceRow* device = KorvikUsbDeviceByRow(row);
  if (!device) return false;
  const bool closed = FHid.CloseMyDevice() != 0;
  Pause(kLibraryDelayMs);
  if (!closed) {
    Log("TKorvikTouchPanelControl.Open failed. hidCloseMyDevice failed.", 5);
    return false;
  }
  const bool opened = FHid.OpenMyDevice(device->Vid, device->Pid, device->Interface) != 0;
  const char* reason = !opened && FHid.LastError ? FHid.LastError() : nullptr;
  const std::string why = reason != nullptr ? reason : "";
  Pause(kLibraryDelayMs);
  if (!opened) {
    Log(KorvikFormat("TKorvikTouchPanelControl.Open failed. hidOpenMyDevice failed. PID: "
                     "0x%4.4x, VID: 0x%4.4x",
                     device->Pid, device->Vid),
        5);
    if (!why.empty()) Log("hidOpenMyDevice: " + why, 5);
    return false;
  }
  FHid.EnableRecv(1);
  return true;
}

int TKorvikUsbTransferModule::FindDevice(const std::string& pid, const std::string& vid,
                                         const std::string& iface) {
  const uint32_t p = KorvikUsbHexValue(pid);
  const uint32_t v = KorvikUsbHexValue(vid);
  const uint32_t i = KorvikUsbHexValue(iface);
  for (const TKorvikUsbDeviceRow& row : KorvikUsbDeviceTable())
    if (row.Pid == p && row.Vid == v && row.Interface == i) return row.Row;
  return -1;
}

void TKorvikUsbTransferModule::ScanDevices() {
  if (FNoUsb) return;
  for (const TKorvikUsbDeviceRow& row : KorvikUsbDeviceTable()) {
    if (!OpenDevice(row.Row)) continue;
    FPendingPanel = std::make_unique<TKorvikTouchPanel>(Control(), "Exists Touch Panel", true,
                                                        row.Vid, row.Pid);
    OnMain([this] { AddPendingPanel(); });
    return;
  }
}

void TKorvikUsbTransferModule::AddPendingPanel() {
  TKorvikTouchPanelControl* control = Control();
  if (!control || !FPendingPanel || FNoUsb) return;
  control->AddTouchPanel(kDefaultPanelKey, std::move(FPendingPanel));
}

// ---- device notices ------------------------------------------------------------------

void TKorvikUsbTransferModule::DeviceChange(int event, const std::string& path) {
  TKorvikTouchPanelControl* control = Control();
  FDfuMode = control && control->HasDfuScenario();
  if (event != HIDPIPE_ARRIVAL && event != HIDPIPE_REMOVAL) return;
  const TKorvikUsbNoticeIds ids = KorvikUsbReadNoticePath(path);
  FDeviceText = path + (event == HIDPIPE_ARRIVAL ? " arrival." : " removed.");
  Log(FDeviceText + (FDfuMode ? "(DFU)" : ""), 0);
  const int row = FindDevice(ids.Pid, ids.Vid, ids.Interface);
  if (row < 0) return;
  if (FDfuMode && control) control->CompleteSetBootSelect();
  if (event == HIDPIPE_ARRIVAL)
    DeviceArrival(row, path);
  else if (!FDfuMode)
    DeviceRemoval();
}

void TKorvikUsbTransferModule::DeviceArrival(int row, const std::string& path) {
  if (FDfuMode) {
    OpenDevice(row);
    return;
  }
  const TKorvikUsbDeviceRow* device = KorvikUsbDeviceByRow(row);
  FPendingPanel =
      std::make_unique<TKorvikTouchPanel>(Control(), path, true, device->Vid, device->Pid);
  OpenDevice(row);
  AddPendingPanel();
}

void TKorvikUsbTransferModule::DeviceRemoval() {
  if (TKorvikTouchPanelControl* control = Control()) control->RemoveTouchPanel(kDefaultPanelKey);
  if (!FNoUsb) FHid.CloseMyDevice();
}

// ---- worker --------------------------------------------------------------------------

void TKorvikUsbTransferModule::Execute() {
  if (FNoUsb) return;
  while (!Terminated()) {
    if (!OnMain([this] { PickNextCommand(); })) break;
    SendStep();
    ReceiveStep();
    if (Terminated()) break;
    if (FReceived) {
      if (!OnMain([this] { DispatchReceived(); })) break;
    } else {
      SleepMs(1);
    }
  }
}

void TKorvikUsbTransferModule::PickNextCommand() {
  TKorvikTouchPanelControl* control = Control();
  if (!control) return;
  TKorvikTouchPanel* panel = control->GetTouchPanelQuiet(0);
  if (!panel) return;
  TKorvikUsbCommand* command = panel->NextTransaction();
  if (!command) return;
  FSendQueue.push_back({command, command->Data()});
}

void TKorvikUsbTransferModule::SendStep() {
  if (FSendQueue.empty()) return;
  QueuedCommand entry = std::move(FSendQueue.front());
  FSendQueue.pop_front();
  while (!Terminated()) {
    if (FHid.Send(entry.Frame.data()) != 0) {
      FInFlight = entry.Command;
      OnMain([this, &entry] { SetCommandState(entry.Command, TKorvikUsbTransaction::StateSent); });
      return;
    }
    ++FFailureCounter;
    SleepMs(RetryDelayMs);
    if (FFailureCounter < RetryLimit) {
      // A command whose panel went away (device removed) is not sent to the next device.
      bool stillPending = false;
      OnMain([this, &entry, &stillPending] { stillPending = IsTaken(entry.Command); });
      if (stillPending) continue;
      FSendQueue.clear();
      return;
    }
    const int retried = FFailureCounter;
    OnMain([retried, this] {
      Log(KorvikFormat("TKorvikUsbTransferModule.SendUsbByDLL send failed. Retried %d times.",
                       retried),
          5);
    });
    FFailedCommand = entry.Command;
    OnMain([this] {
      SetCommandState(FFailedCommand, TKorvikUsbTransaction::StateSendFailed);
      FFailedCommand = nullptr;
    });
    FSendQueue.clear();
    FFailureCounter = 0;
    return;
  }
}

bool TKorvikUsbTransferModule::IsTaken(TKorvikUsbCommand* command) const {
  TKorvikTouchPanelControl* control = Control();
  if (!control || !command) return false;
  TKorvikUsbTransaction* transaction = control->FindPendingTransaction(command);
  return transaction && transaction->State() == TKorvikUsbTransaction::StateTaken;
}

void TKorvikUsbTransferModule::SetCommandState(TKorvikUsbCommand* command, uint8_t state) {
  // The panel may have gone (device removed) since the command was picked: only a command
  // still pending on a listed panel is touched.
  if (IsTaken(command)) Control()->FindPendingTransaction(command)->SetState(state);
}

void TKorvikUsbTransferModule::ReceiveStep() {
  FRecvBuffer.fill(0);
  const int received = FHid.Recv(FRecvBuffer.data(), 0);
  // A frame cut short on the way is dropped: the zeros after what arrived are no data.
  FReceived = received > 0 && hidFrameTruncated(FRecvBuffer.data(), received) == 0;
  if (FReceived) FInFlight = nullptr;
}

void TKorvikUsbTransferModule::DispatchReceived() {
  std::unique_ptr<TKorvikUsbMessage> message =
      FFactory->CreateUsbMessage(TKorvikUsbMessageFactory::DirectionReceived, FRecvBuffer);
  if (!message) return;
  TKorvikTouchPanelControl* control = Control();
  if (!control) return;
  // Handed to panel 0 whatever the control's default index; a message no panel takes is
  // not kept.
  control->HandleMessage(0, std::move(message));
}
