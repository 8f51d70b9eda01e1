// The one object through which Lumora's window reaches the touch panel controller: the
// panel list, the command calls, the dispatch timer and the transfer thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "calib/framework/TKorvikObj.h"
#include "calib/framework/TKorvikObjControl.h"
#include "calib/framework/TKorvikTouchPanel.h"
#include "calib/framework/TKorvikUsbTransferModuleHid.h"

class QTimer;
class TKorvikUsbMessageFactory;
class TKorvikUsbTransferModule;

class TKorvikTouchPanelControl : public TKorvikObj {
 public:
  using PanelEvent = std::function<void(TKorvikTouchPanel* panel)>;
  static constexpr int FirstTickMs = 10;
  static constexpr int TickMs = 1;

  // Main thread, with a running (or later running) event loop. Opens the HID library,
  // scans for a device and starts the transfer thread unless noUsb.
  TKorvikTouchPanelControl(
      TKorvikObj* owner, TKorvikLogEvent onLog, bool noUsb,
      TKorvikUsbTransferModuleHid hid = TKorvikUsbTransferModuleHid::Library());
  // Stops and joins the transfer thread, closes the library, frees the panels.
  ~TKorvikTouchPanelControl() override;

  void SetOnLog(TKorvikLogEvent handler) override;
  // The dispatch timer's handler.
  virtual void TimerTick();

  bool SendCommand(int panelIndex, uint8_t row, const std::vector<uint8_t>& arguments);
  bool CmdCalibrate();
  bool CmdGetFirmwareVersion(uint8_t x);
  bool CmdChangeCoordinatesReportPermission(bool permit);
  bool CmdChangeCoordinatesReportTarget(uint8_t x);
  bool CmdGetFirmwareDetail();
  bool CmdtpcStopContinuallyReport();
  bool CmdDfuGetBootSelect();

  // Panels; the list owns them. Keys may repeat.
  void AddTouchPanel(const std::string& key, std::unique_ptr<TKorvikTouchPanel> panel);
  void RemoveTouchPanel(const std::string& key);
  TKorvikTouchPanel* GetTouchPanel(int index) const;
  TKorvikTouchPanel* GetDefaultTouchPanel() const;
  int TouchPanelCount() const { return static_cast<int>(FTouchPanelList.size()); }
  const std::string& TouchPanelKey(int index) const;
  void ClearTouchPanels();
  // Passes the message to the panel at panelIndex; a message nobody takes is freed.
  bool HandleMessage(int panelIndex, std::unique_ptr<TKorvikUsbMessage> message);
  bool HasDfuScenario() const;

  // For the transfer thread's steps (main thread): no log when absent.
  TKorvikTouchPanel* GetTouchPanelQuiet(int index) const;
  // The transaction still pending on a listed panel whose first message is command.
  TKorvikUsbTransaction* FindPendingTransaction(const TKorvikUsbMessage* command) const;
  // Completes the default panel's pending set-boot-select exchanges.
  void CompleteSetBootSelect();

  void SetOnMessage(TKorvikMessageEvent handler) { FOnMessage = std::move(handler); }
  void SetOnTouchPanelAdded(PanelEvent handler) { FOnTouchPanelAdded = std::move(handler); }
  void SetOnTouchPanelRemoved(PanelEvent handler) { FOnTouchPanelRemoved = std::move(handler); }
  void SetOnSendCommand(TKorvikMessageEvent handler) { FOnSendCommand = std::move(handler); }
  // Also given to the panels already listed (the start-up scan adds one before any
  // handler can be set).
  void SetOnTransactionsChanged(TKorvikObjEvent handler);

  bool NoUsb() const { return FNoUsb; }
  int DefaultIndex() const { return FDefaultIndex; }
  TKorvikUsbTransferModule* TransferModule() const { return FTransferModule.get(); }
  TKorvikUsbMessageFactory* MsgFactory() const { return FMsgFactory.get(); }
  bool TimerActive() const;

 private:
  bool RunCommand(uint8_t row, const std::vector<uint8_t>& arguments, const char* failure);

  int FDefaultIndex = 0;
  std::unique_ptr<TKorvikUsbMessageFactory> FMsgFactory;
  std::unique_ptr<QTimer> FTimer;
  std::vector<std::pair<std::string, std::unique_ptr<TKorvikTouchPanel>>> FTouchPanelList;
  std::unique_ptr<TKorvikUsbTransferModule> FTransferModule;
  bool FNoUsb = false;
  TKorvikMessageEvent FOnMessage;
  TKorvikMessageEvent FOnSendCommand;
  PanelEvent FOnTouchPanelAdded;
  PanelEvent FOnTouchPanelRemoved;
  TKorvikObjEvent FOnTransactionsChanged;
};
