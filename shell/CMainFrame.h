// The main window: a small bar with the menus and the link status.
#pragma once

#include <QMainWindow>
#include <QString>
#include <map>

#include "control/IAppServices.h"

class CVantrelToolApp;
class QAction;
class QLabel;
class QMenu;
class QTimer;

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  // Command identifiers of the menu items.
  enum Command {
    ID_SETTINGS = 32777,
    ID_RECORD_SESSION = 32801,
    ID_OPEN_CAPTURE = 32802,
    ID_APP_EXIT = 57665,
    ID_XY_WINDOW = 32773,
    ID_WAVE_WINDOW = 32775,
    ID_TEST_PANEL = 32783,
    ID_MECHANICS_WINDOW = 32793,
    ID_COMMAND_WINDOW = 32790,
    ID_DEBUG_WINDOW = 32795,
    ID_SEND_WINDOW = 32796,
    ID_LOT_ANALYZER = 32799,
    ID_HELP = 32781,
    ID_APP_ABOUT = 57664,
  };
  static constexpr int kBarWidth = 480;
  static constexpr int kBarHeight = 80;

  explicit CMainFrame(CVantrelToolApp& app);
  ~CMainFrame() override;

  void BuildMenus();
  QAction* Action(int command) const;
  // Check marks follow the tool windows' visibility.
  void UpdateMenuChecks();

  void SetLinkStatus(LinkStatus status);
  LinkStatus GetLinkStatus() const { return status_; }
  QString StatusText() const;
  // The recording's pane of the status line ("REC ..." or empty).
  void SetRecordText(const QString& text);
  QString RecordText() const;
  QString NoticeText() const;  // the last notice while it shows, else empty
  // While a capture plays, the link's pane names it instead of the port's state.
  void SetReplayName(const QString& name);
  static constexpr int kNoticeMs = 8000;
  int StatusIconId() const { return statusIconId_; }

  // Probes the link after a device change; true when it answers.
  bool Connect();
  // Device change notice (any kind): restarts timer 112.
  void OnDeviceChange();
  void StartStartupTimer();
  // Restores the 480 x 80 bar at the top-left of the work area.
  void RestoreBar();
  QRect WorkArea() const;

  bool IsDeviceTimerActive() const;
  bool IsCloseTimerActive() const;

 public slots:
  // A short notice ("Saved ...") in the recording's pane for a few seconds.
  void ShowNotice(const QString& text);

 signals:
  // The closing handshake let the window close.
  void closed();

 protected:
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  // true when the window may close now.
  bool CloseHandshake();
  void OnDeviceTimer();
  void OnCloseTimer();

  CVantrelToolApp& app_;
  QLabel* statusIcon_ = nullptr;
  QLabel* statusText_ = nullptr;
  QLabel* recordText_ = nullptr;
  QString record_;      // the recording's text, shown again after a notice
  QString replayName_;  // the capture being played
  QTimer* noticeTimer_ = nullptr;
  int statusIconId_ = 0;
  LinkStatus status_ = LinkStatus::kDisconnected;
  std::map<int, QAction*> actions_;
  QTimer* deviceTimer_ = nullptr;   // 112
  QTimer* startupTimer_ = nullptr;  // 114
  QTimer* closeTimer_ = nullptr;    // 116
  // A serial device sends no notice when it comes back (a pseudo-terminal never does):
  // while the serial link is down it is tried again on this timer.
  QTimer* serialRetryTimer_ = nullptr;
  int closeChecksAfterQuiet_ = 0;
  bool closing_ = false;
};
