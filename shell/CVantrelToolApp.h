// The engineering program's application object: owns the controller, the settings,
// the drawing object and the tool windows for the whole run.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "control/CSettingsRecord.h"
#include "control/IAppServices.h"
#include "link/CTransCtrl.h"
#include "shell/CUiHooks.h"

class CCaptureControl;
class CHelpDialog;
class CMainFrame;
class CSendDialog;
class CSerialDeviceWatch;
class CSettingDialog;
class CSingleInstance;
class CUiDeliverer;
class CWndGraphDialog;
class CWndXYDialog;
class CXYCoordDraw;
class CPointStore;
class QDialog;
class QWidget;

class CVantrelToolApp : public QObject, public ITransHost, public IAppServices {
  Q_OBJECT

 public:
  struct Options {
    QString configPath;          // empty: as CSettingsLocation decides
    QString helpPath;            // empty: as CHelpDialog::DefaultHelpPath finds it
    bool singleInstance = true;  // refuse a second copy
    bool deviceNotices = true;   // follow the library's device notices
    bool showMainWindow = true;
    QString recordPath;  // record the session from the start
    QString replayPath;  // play this capture instead of opening the controller
  };
  enum InitResult { kStarted, kSecondInstance, kDfuToolRunning };

  CVantrelToolApp();
  ~CVantrelToolApp() override;

  // Start-up; the hooks must be set before. Anything but kStarted ends the program.
  InitResult InitInstance(const Options& options);
  // Program end: records the open windows, stops the link, destroys the windows.
  void ExitInstance();

  CUiHooks& Hooks() { return hooks_; }
  CTransCtrl& Ctrl() { return *ctrl_; }
  CSettingsRecord& Settings() { return settings_; }
  CMainFrame* MainFrame() const { return frame_.get(); }
  CUiDeliverer& Deliverer() { return *deliverer_; }
  CCaptureControl& Captures() { return *captures_; }
  bool IsRecording() const;
  // Opens the link the settings name and shows its state; false when it did not open.
  bool OpenConfiguredLink();
  // Copy of the configured controller line, port number included.
  SerialLineSettings SerialSettings() const;

  // Menu commands (command identifiers of CMainFrame).
  void OnCommand(int command);
  void OpenXYWindow();
  void OpenWaveWindow();
  void OpenSendWindow();
  void OpenHelpWindow();
  void ShowVersionWindow();
  void OpenSettingsDialog();
  void OpenStartupWindows();

  bool IsXYWindowVisible() const;
  bool IsWaveWindowVisible() const;
  bool IsSendWindowVisible() const;
  CSendDialog* SendWindow() const { return send_; }
  CHelpDialog* HelpWindow() const { return help_; }
  CWndGraphDialog* WaveWindow() const { return wave_; }
  CWndXYDialog* XYWindow() const { return xy_; }
  CSettingDialog* SettingDialog() const { return settingDlg_; }
  CXYCoordDraw* Draw() const { return draw_.get(); }
  CPointStore* Store() const { return store_.get(); }

  // The status line's state reached the Firmware Control Window.
  void OnLinkStatusChanged(bool connected);

  // ITransHost
  void ApplyPanelInfo(const PanelInfo& info) override;
  void RestorePanelInfo(const PanelInfo& info) override;
  void ShowPanelInfoFailure() override;
  void OnLinkLost() override;
  // IAppServices
  void SetLinkStatus(LinkStatus status) override;
  void PushViewSettings() override;

  // "Port open failure!\n" and the first two identities, then the devices found but
  // refused, with the reason.
  QString PortOpenFailureText();

 private:
  void ShowToolWindow(QWidget* w, int x, int y, const char* focusId, bool restore);
  void RegisterNotices();
  void UnregisterNotices();
  static void NoticeThunk(int event, const char* path, void* user);

  Options options_;
  CUiHooks hooks_ = CUiHooks::Defaults();
  CSettingsRecord settings_;
  std::unique_ptr<CUiDeliverer> deliverer_;
  std::unique_ptr<CTransCtrl> ctrl_;
  std::unique_ptr<CXYCoordDraw> draw_;
  std::unique_ptr<CPointStore> store_;
  std::unique_ptr<CSingleInstance> instance_;
  std::unique_ptr<CSerialDeviceWatch> serialWatch_;
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<CCaptureControl> captures_;
  // Tool windows: children of the main window, created at first opening.
  CWndXYDialog* xy_ = nullptr;
  CWndGraphDialog* wave_ = nullptr;
  CSendDialog* send_ = nullptr;
  CHelpDialog* help_ = nullptr;
  CSettingDialog* settingDlg_ = nullptr;
  bool noticesRegistered_ = false;
  bool exited_ = false;
};
