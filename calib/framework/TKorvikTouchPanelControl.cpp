#include "calib/framework/TKorvikTouchPanelControl.h"

#include <QTimer>
#include <algorithm>

#include "calib/framework/TKorvikCommandTable.h"
#include "calib/framework/TKorvikUsbMessageFactory.h"
#include "calib/framework/TKorvikUsbTransferModule.h"

TKorvikTouchPanelControl::TKorvikTouchPanelControl(TKorvikObj* owner, TKorvikLogEvent onLog,
                                                   bool noUsb, TKorvikUsbTransferModuleHid hid)
    : TKorvikObj(owner) {
  FDefaultIndex = 0;
  FMsgFactory = std::make_unique<TKorvikUsbMessageFactory>(this);
  FTimer = std::make_unique<QTimer>();
  FTimer->setInterval(0);
  QObject::connect(FTimer.get(), &QTimer::timeout, [this] { TimerTick(); });
  FNoUsb = noUsb;
  SetOnLog(std::move(onLog));
  FTransferModule = std::make_unique<TKorvikUsbTransferModule>(this, std::move(hid));
  FTransferModule->Start();
  FTimer->start(FirstTickMs);
}

TKorvikTouchPanelControl::~TKorvikTouchPanelControl() {
  FOnMessage = nullptr;
  if (HasOnLog()) SetOnLog(nullptr);
  if (FTransferModule) {
    // The worker is stopped and joined before anything it reaches goes away.
    FTransferModule->StopWorker();
    FTransferModule->DetachControl();
    FTransferModule.reset();
  }
  FMsgFactory.reset();
  FTimer.reset();
  ClearTouchPanels();
}

void TKorvikTouchPanelControl::SetOnLog(TKorvikLogEvent handler) {
  TKorvikObj::SetOnLog(handler);
  if (FTransferModule && FTransferModule->LogObject())
    FTransferModule->LogObject()->SetOnLog(std::move(handler));
}

bool TKorvikTouchPanelControl::TimerActive() const {
  return FTimer && FTimer->isActive();
}

void TKorvikTouchPanelControl::TimerTick() {
  FTimer->stop();
  // Handlers may add or remove panels: walk by index and look each one up again.
  for (size_t i = 0; i < FTouchPanelList.size(); ++i) {
    TKorvikTouchPanel* panel = FTouchPanelList[i].second.get();
    if (!panel || !panel->Active()) continue;
    auto stillListed = [&] {
      return i < FTouchPanelList.size() && FTouchPanelList[i].second.get() == panel;
    };
    if (FOnMessage) panel->DispatchCompleted(FOnMessage);
    if (!stillListed()) continue;
    panel->CheckTimeouts();
    if (!stillListed()) continue;
    panel->RunScenarios();
  }
  if (FTimer) FTimer->start(TickMs);
}

// ---- commands ------------------------------------------------------------------------

bool TKorvikTouchPanelControl::SendCommand(int panelIndex, uint8_t row,
                                           const std::vector<uint8_t>& arguments) {
  if (!FMsgFactory) {
    Log("Create Command fail. No FMsgFactory exist.", 3);
    return false;
  }
  if (!GetTouchPanel(panelIndex)) {
    Log("Create Command fail. No TouchPanel exist.", 3);
    return false;
  }
  const bool result = HandleMessage(panelIndex, FMsgFactory->CreateUsbCommand(row, arguments));
  Log(std::string("Create Command success. CMD: ") + KorvikCommandName(row), 0);
  return result;
}

bool TKorvikTouchPanelControl::RunCommand(uint8_t row, const std::vector<uint8_t>& arguments,
                                          const char* failure) {
  const bool ok = SendCommand(FDefaultIndex, row, arguments);
  if (!ok) Log(failure, 7);
  return ok;
}

bool TKorvikTouchPanelControl::CmdCalibrate() {
  return RunCommand(KorvikCmd::Calibrate, {}, "CmdCalibrate fail.");
}

bool TKorvikTouchPanelControl::CmdGetFirmwareVersion(uint8_t x) {
  return RunCommand(KorvikCmd::GetVersion, {static_cast<uint8_t>(x < 2 ? x : 0)},
                    "CmdGetFirmwareVersion fail.");
}

bool TKorvikTouchPanelControl::CmdChangeCoordinatesReportPermission(bool permit) {
  return RunCommand(KorvikCmd::ChangeCoordinatesReportPermission,
                    {static_cast<uint8_t>(permit ? 0 : 1)},
                    "CmdChangeCoordinatesReportPermission fail.");
}

bool TKorvikTouchPanelControl::CmdChangeCoordinatesReportTarget(uint8_t x) {
  return RunCommand(KorvikCmd::ChangeCoordinatesReportTarget, {static_cast<uint8_t>(x < 2 ? x : 0)},
                    "CmdChangeCoordinatesReportTarget fail.");
}

bool TKorvikTouchPanelControl::CmdGetFirmwareDetail() {
  return RunCommand(KorvikCmd::GetFirmwareDetail, {0}, "CmdGetFirmwareDetail fail.");
}

bool TKorvikTouchPanelControl::CmdtpcStopContinuallyReport() {
  return RunCommand(KorvikCmd::StopContinuallyReport, {}, "CmdtpcStopContinuallyReport fail.");
}

bool TKorvikTouchPanelControl::CmdDfuGetBootSelect() {
  return RunCommand(KorvikCmd::DfuGetBootSelect, {}, "CmdDfuGetBootSelect fail.");
}

// ---- panel list ----------------------------------------------------------------------

void TKorvikTouchPanelControl::AddTouchPanel(const std::string& key,
                                             std::unique_ptr<TKorvikTouchPanel> panel) {
  if (!panel) return;
  TKorvikTouchPanel* added = panel.get();
  FTouchPanelList.emplace_back(key, std::move(panel));
  if (FOnTransactionsChanged) added->SetOnTransactionsChanged(FOnTransactionsChanged);
  added->SetOnSendCommand([this](TKorvikUsbMessage* message) {
    if (FOnSendCommand) FOnSendCommand(message);
  });
  Log(added->Name() + " added to FTouchPanelList.", 0);
  if (FOnTouchPanelAdded) FOnTouchPanelAdded(added);
}

void TKorvikTouchPanelControl::RemoveTouchPanel(const std::string& key) {
  auto it = std::find_if(FTouchPanelList.begin(), FTouchPanelList.end(),
                         [&](const auto& entry) { return entry.first == key; });
  if (it == FTouchPanelList.end()) return;
  TKorvikTouchPanel* panel = it->second.get();
  if (FOnTouchPanelRemoved) FOnTouchPanelRemoved(panel);
  // The handler may have changed the list: find the entry again.
  it = std::find_if(FTouchPanelList.begin(), FTouchPanelList.end(),
                    [&](const auto& entry) { return entry.second.get() == panel; });
  if (it == FTouchPanelList.end()) return;
  std::unique_ptr<TKorvikTouchPanel> owned = std::move(it->second);
  FTouchPanelList.erase(it);
  Log(owned->Name() + " removed from FTouchPanelList.", 0);
}

TKorvikTouchPanel* TKorvikTouchPanelControl::GetTouchPanelQuiet(int index) const {
  if (index < 0 || index >= TouchPanelCount()) return nullptr;
  return FTouchPanelList[static_cast<size_t>(index)].second.get();
}

TKorvikTouchPanel* TKorvikTouchPanelControl::GetTouchPanel(int index) const {
  TKorvikTouchPanel* panel = GetTouchPanelQuiet(index);
  if (!panel) Log(KorvikFormat("No TP exists in TouchPanelList, idx: %d", index), 3);
  return panel;
}

TKorvikTouchPanel* TKorvikTouchPanelControl::GetDefaultTouchPanel() const {
  TKorvikTouchPanel* panel = GetTouchPanelQuiet(FDefaultIndex);
  if (!panel)
    Log(KorvikFormat("No Default TP exists in TouchPanelList, idx: %d", FDefaultIndex), 3);
  return panel;
}

const std::string& TKorvikTouchPanelControl::TouchPanelKey(int index) const {
  static const std::string none;
  if (index < 0 || index >= TouchPanelCount()) return none;
  return FTouchPanelList[static_cast<size_t>(index)].first;
}

void TKorvikTouchPanelControl::ClearTouchPanels() {
  while (!FTouchPanelList.empty()) {
    std::unique_ptr<TKorvikTouchPanel> panel = std::move(FTouchPanelList.front().second);
    FTouchPanelList.erase(FTouchPanelList.begin());
    if (panel) panel->SetOnTransactionsChanged(nullptr);
  }
}

bool TKorvikTouchPanelControl::HandleMessage(int panelIndex,
                                             std::unique_ptr<TKorvikUsbMessage> message) {
  TKorvikTouchPanel* panel = GetTouchPanel(panelIndex);
  if (!panel) return false;
  return panel->HandleMessage(std::move(message));
}

bool TKorvikTouchPanelControl::HasDfuScenario() const {
  for (const auto& entry : FTouchPanelList)
    if (entry.second && entry.second->HasDfuScenario()) return true;
  return false;
}

TKorvikUsbTransaction* TKorvikTouchPanelControl::FindPendingTransaction(
    const TKorvikUsbMessage* command) const {
  for (const auto& entry : FTouchPanelList) {
    if (!entry.second) continue;
    for (size_t i = 0; i < entry.second->PendingCount(); ++i) {
      TKorvikUsbTransaction* transaction = entry.second->Pending(i);
      if (transaction && transaction->FirstMessage() == command) return transaction;
    }
  }
  return nullptr;
}

void TKorvikTouchPanelControl::CompleteSetBootSelect() {
  if (TKorvikTouchPanel* panel = GetDefaultTouchPanel()) panel->CompleteSetBootSelect();
}

void TKorvikTouchPanelControl::SetOnTransactionsChanged(TKorvikObjEvent handler) {
  FOnTransactionsChanged = std::move(handler);
  for (auto& entry : FTouchPanelList)
    if (entry.second) entry.second->SetOnTransactionsChanged(FOnTransactionsChanged);
}
