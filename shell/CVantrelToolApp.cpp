#include "CVantrelToolApp.h"

#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <clocale>
#include <mutex>

#include "control/CSendDialog.h"
#include "control/CSetSerialPortDlg.h"
#include "control/CSettingDialog.h"
#include "control/CSettingsLocation.h"
#include "hidpipe/hidpipe.h"
#include "link/CSerialDeviceWatch.h"
#include "shell/CAboutDlg.h"
#include "shell/CCaptureControl.h"
#include "shell/CHelpDialog.h"
#include "shell/CMainFrame.h"
#include "shell/CReplayBar.h"
#include "shell/CSingleInstance.h"
#include "shell/CUiDeliverer.h"
#include "shell/ProductVersion.h"
#include "shell/StatusIcons.h"
#include "views/CDrawArea.h"
#include "views/CPointStore.h"
#include "views/CWndGraphDialog.h"
#include "views/CWndXYDialog.h"
#include "views/CWndXYFullDialog.h"
#include "views/CXYCoordDraw.h"

namespace {


// The device notice callback runs on a library thread; it reaches the main window only
// while the application is registered.
std::mutex g_noticeMutex;
CVantrelToolApp* g_noticeApp = nullptr;

}  // namespace

CVantrelToolApp::CVantrelToolApp()
    : deliverer_(std::make_unique<CUiDeliverer>()),
      ctrl_(std::make_unique<CTransCtrl>()),
      draw_(std::make_unique<CXYCoordDraw>()),
      store_(std::make_unique<CPointStore>()) {
  ctrl_->SetDeliverer(deliverer_.get());
  ctrl_->SetHost(this);
}

CVantrelToolApp::~CVantrelToolApp() {
  ExitInstance();
  frame_.reset();
}

SerialLineSettings CVantrelToolApp::SerialSettings() const {
  SerialLineSettings line = settings_.comPort;
  line.portNum = settings_.portNum;
  return line;
}

QString CVantrelToolApp::PortOpenFailureText() {
  QString text = QStringLiteral("Port open failure!\n");
  for (int entry = 0; entry < 2; ++entry) {
    text += QString::asprintf("VID 0x%04x, PID 0x%04x: Device was not found.\n",
                              ctrl_->VendorId(entry), ctrl_->ProductId(entry));
  }
  return text + QString::fromStdString(ctrl_->OpenFailureText());
}

CVantrelToolApp::InitResult CVantrelToolApp::InitInstance(const Options& options) {
  options_ = options;
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");

  if (options.singleInstance) {
    instance_ = std::make_unique<CSingleInstance>(QStringLiteral("VantrelTool"));
    switch (instance_->Start()) {
      case CSingleInstance::kAlreadyRunning:
        return kSecondInstance;
      case CSingleInstance::kDfuToolRunning:
        hooks_.messageBox(nullptr, QMessageBox::Critical,
                          QStringLiteral("Can't open this program while DFU Tool is running."),
                          QMessageBox::Ok);
        return kDfuToolRunning;
      case CSingleInstance::kFirst:
        break;
    }
  }

  frame_ = std::make_unique<CMainFrame>(*this);
  if (instance_) {
    connect(instance_.get(), &CSingleInstance::raiseRequested, frame_.get(), [this] {
      if (frame_->isMinimized()) frame_->showNormal();
      frame_->raise();
      frame_->activateWindow();
    });
  }
  frame_->setWindowIcon(QIcon(AppIcon(32)));
  if (options.showMainWindow) {
    // A bar across the top of the work area, maximised in width.
    // move() places the frame, title bar included, at the work area's top; setGeometry
    // would place the client area there and push the title bar off the screen.
    const QRect wa = frame_->WorkArea();
    frame_->resize(wa.width(), CMainFrame::kBarHeight);
    frame_->move(wa.topLeft());
    frame_->show();
  }
  frame_->BuildMenus();
  frame_->setWindowTitle(QStringLiteral("VantrelTool version ") + GetProductVersion());

  settings_.SetFilePath(CSettingsLocation::Resolve(options.configPath.toStdString()));
  settings_.LoadSettings(settings_.FilePath(), ctrl_.get());

  // Device notices are followed from here on, so a controller that appears while the
  // port-open failure box is up is not missed.
  if (options.deviceNotices) RegisterNotices();
  captures_ = std::make_unique<CCaptureControl>(*this);
  // Recording from the start sees the link's first frames.
  if (!options.recordPath.isEmpty()) captures_->StartRecording(options.recordPath);
  if (options.replayPath.isEmpty()) {
    OpenConfiguredLink();
  } else {
    captures_->OpenReplay(options.replayPath, true);  // the link instead when it cannot
  }
  if (captures_->IsRecording()) captures_->NoteLink();
  frame_->StartStartupTimer();
  return kStarted;
}

bool CVantrelToolApp::OpenConfiguredLink() {
  int opened = 0;
  if (settings_.usbCom != 0) {
    SerialLineSettings line = SerialSettings();
    opened = ctrl_->Open(kLinkCom, &line);
  } else {
    opened = ctrl_->Open(kLinkUsb, nullptr);
  }
  if (opened == 1) {
    frame_->SetLinkStatus(LinkStatus::kConnected);
    return true;
  }
  frame_->SetLinkStatus(LinkStatus::kDisconnected);
  hooks_.messageBox(frame_.get(), QMessageBox::Warning, PortOpenFailureText(), QMessageBox::Ok);
  // A controller already present when the notices began sends none: probe once.
  if (options_.deviceNotices) frame_->OnDeviceChange();
  return false;
}

bool CVantrelToolApp::IsRecording() const {
  return captures_ && captures_->IsRecording();
}

void CVantrelToolApp::ExitInstance() {
  if (exited_) return;
  exited_ = true;
  UnregisterNotices();
  if (frame_) {
    if (!settings_.WriteStartup()) {
      qWarning("VantrelTool: %s", settings_.LastError().c_str());
      hooks_.messageBox(frame_.get(), QMessageBox::Warning,
                        QString("The settings could not be saved to %1:\n%2")
                            .arg(QString::fromStdString(settings_.FilePath()),
                                 QString::fromStdString(settings_.LastError())),
                        QMessageBox::Ok);
    }
  }
  // Stop deliveries before the windows that take them go away.
  deliverer_->Shutdown();
  ctrl_->Close();
  captures_.reset();  // ends a recording after the link's last frames
  delete settingDlg_;
  settingDlg_ = nullptr;
  delete xy_;
  xy_ = nullptr;
  delete wave_;
  wave_ = nullptr;
  delete send_;
  send_ = nullptr;
  delete help_;
  help_ = nullptr;
  instance_.reset();
}

void CVantrelToolApp::RegisterNotices() {
  {
    std::lock_guard<std::mutex> lock(g_noticeMutex);
    g_noticeApp = this;
  }
  hidSetNoticeCallback(&CVantrelToolApp::NoticeThunk, nullptr);
  // Serial devices come and go too; they start the same probe.
  serialWatch_ = std::make_unique<CSerialDeviceWatch>([] { NoticeThunk(0, nullptr, nullptr); });
  serialWatch_->Start();
  noticesRegistered_ = true;
}

void CVantrelToolApp::UnregisterNotices() {
  if (!noticesRegistered_) return;
  serialWatch_.reset();
  hidSetNoticeCallback(nullptr, nullptr);
  std::lock_guard<std::mutex> lock(g_noticeMutex);
  g_noticeApp = nullptr;
  noticesRegistered_ = false;
}

void CVantrelToolApp::NoticeThunk(int /*event*/, const char* /*path*/, void* /*user*/) {
  std::lock_guard<std::mutex> lock(g_noticeMutex);
  if (g_noticeApp == nullptr) return;
  CVantrelToolApp* app = g_noticeApp;
  app->deliverer_->Post([app] {
    if (app->frame_) app->frame_->OnDeviceChange();
  });
}

void CVantrelToolApp::OnCommand(int command) {
  switch (command) {
    case CMainFrame::ID_SETTINGS:
      OpenSettingsDialog();
      break;
    case CMainFrame::ID_RECORD_SESSION:
      captures_->OnRecordCommand();
      break;
    case CMainFrame::ID_OPEN_CAPTURE:
      captures_->OnOpenCaptureCommand();
      break;
    case CMainFrame::ID_APP_EXIT:
      frame_->close();
      break;
    case CMainFrame::ID_XY_WINDOW:
      OpenXYWindow();
      break;
    case CMainFrame::ID_WAVE_WINDOW:
      OpenWaveWindow();
      break;
    case CMainFrame::ID_SEND_WINDOW:
      OpenSendWindow();
      break;
    case CMainFrame::ID_HELP:
      OpenHelpWindow();
      break;
    case CMainFrame::ID_APP_ABOUT:
      ShowVersionWindow();
      break;
    default:
      break;
  }
  frame_->UpdateMenuChecks();
}

void CVantrelToolApp::ShowToolWindow(QWidget* w, int x, int y, const char* focusId, bool restore) {
  w->move(x, y);
  if (w->isVisible()) {
    w->raise();
    w->activateWindow();
  } else if (restore) {
    w->showNormal();
  } else {
    w->show();
  }
  if (focusId != nullptr) {
    if (auto* focus = w->findChild<QWidget*>(QString::fromLatin1(focusId))) focus->setFocus();
  }
}

void CVantrelToolApp::OpenXYWindow() {
  if (xy_ != nullptr && xy_->IsFullScreenVisible()) {
    xy_->OnBnClickedBack();
    return;
  }
  const QRect wa = frame_->WorkArea();
  if (xy_ == nullptr) xy_ = new CWndXYDialog(*ctrl_, settings_, *draw_, *store_, frame_.get());
  xy_->SetCounts(ctrl_->Panel().xCount, ctrl_->Panel().yCount);
  ShowToolWindow(xy_, wa.x() + wa.width() - 700, wa.y() + 80, "id1299", false);
  xy_->SetCounts(ctrl_->Panel().xCount, ctrl_->Panel().yCount);
}

void CVantrelToolApp::OpenWaveWindow() {
  const QRect wa = frame_->WorkArea();
  if (wave_ == nullptr) wave_ = new CWndGraphDialog(*ctrl_, settings_, frame_.get());
  wave_->SetCounts(ctrl_->Panel().xCount, ctrl_->Panel().yCount);
  ShowToolWindow(wave_, wa.x(), wa.y() + 80, "id1023", false);
  wave_->SetCounts(ctrl_->Panel().xCount, ctrl_->Panel().yCount);
}

void CVantrelToolApp::OpenSendWindow() {
  const QRect wa = frame_->WorkArea();
  if (send_ == nullptr) send_ = new CSendDialog(*ctrl_, settings_, frame_.get());
  ShowToolWindow(send_, wa.x() + wa.width() - 1000, wa.y() + 80, "id1125", true);
}

void CVantrelToolApp::OpenHelpWindow() {
  const QRect wa = frame_->WorkArea();
  if (help_ == nullptr) help_ = new CHelpDialog(frame_.get(), options_.helpPath);
  ShowToolWindow(help_, 0, wa.y() + 80, nullptr, false);
  help_->ShowTop();
}

void CVantrelToolApp::ShowVersionWindow() {
  CAboutDlg dlg(frame_.get());
  hooks_.execDialog(dlg);
}

void CVantrelToolApp::OpenSettingsDialog() {
  if (settingDlg_ == nullptr) {
    settingDlg_ = new CSettingDialog(settings_, *ctrl_, *this, frame_.get());
    settingDlg_->showMessage = [this](const QString& text, QMessageBox::Icon icon) {
      hooks_.messageBox(settingDlg_, icon, text, QMessageBox::Ok);
    };
  }
  hooks_.execDialog(*settingDlg_);
}

void CVantrelToolApp::OpenStartupWindows() {
  if (settings_.startup.WaveWindow != 0) OpenWaveWindow();
  if (settings_.startup.XYWindow != 0) OpenXYWindow();
  if (settings_.startup.SendWindow != 0) OpenSendWindow();
  frame_->UpdateMenuChecks();
  // A replay opened at start (--replay) keeps its bar above the windows restored now.
  if (CReplayBar* bar = captures_->Bar()) bar->raise();
}

bool CVantrelToolApp::IsXYWindowVisible() const {
  return xy_ != nullptr && xy_->isVisible();
}
bool CVantrelToolApp::IsWaveWindowVisible() const {
  return wave_ != nullptr && wave_->isVisible();
}
bool CVantrelToolApp::IsSendWindowVisible() const {
  return send_ != nullptr && send_->isVisible();
}

void CVantrelToolApp::OnLinkStatusChanged(bool connected) {
  // The Firmware Control Window keeps its controls: a closed link is reported per command,
  // and a calibration that waits for a controller that went away ends.
  if (send_ != nullptr) send_->OnLinkStatusChanged(connected);
  // The views keep their last data, marked as old while the controller is away.
  const QString mark = connected ? QString() : QStringLiteral("DISCONNECTED - last data shown");
  if (wave_ != nullptr) wave_->Canvas()->SetBanner(mark);
  if (xy_ != nullptr) {
    if (!connected) xy_->EndStrokes();
    xy_->DrawArea()->SetBanner(mark);
    if (CWndXYFullDialog* full = xy_->FullScreen()) full->DrawArea()->SetBanner(mark);
  }
}

void CVantrelToolApp::ApplyPanelInfo(const PanelInfo& info) {
  if (settingDlg_ != nullptr)
    settingDlg_->SetPanelFields(info.xCount, info.yCount, info.resolution);
  // A hidden Wave Window goes on counting and logging: it takes the new counts too.
  if (wave_ != nullptr) wave_->SetCounts(info.xCount, info.yCount);
  if (xy_ != nullptr) {
    if (xy_->IsFullScreenVisible()) {
      CWndXYFullDialog* full = xy_->FullScreen();
      full->SetCounts(info.xCount, info.yCount);
      draw_->SetResolution(info.resolution);
      draw_->SetRanges(info.xRange, info.yRange);
      draw_->SetRecomputeGrid();
      full->update();
      draw_->SetSuspended(true);
    } else if (xy_->isVisible()) {
      xy_->SetCounts(info.xCount, info.yCount);
      draw_->SetResolution(info.resolution);
      draw_->SetRanges(info.xRange, info.yRange);
      draw_->SetRecomputeGrid();
      xy_->update();
    }
  }
}

void CVantrelToolApp::RestorePanelInfo(const PanelInfo& info) {
  ApplyPanelInfo(info);
}

void CVantrelToolApp::ShowPanelInfoFailure() {
  hooks_.messageBox(nullptr, QMessageBox::NoIcon,
                    QStringLiteral("Fail to read the panel information"), QMessageBox::Ok);
}

void CVantrelToolApp::OnLinkLost() {
  if (frame_) frame_->OnDeviceChange();
}

void CVantrelToolApp::SetLinkStatus(LinkStatus status) {
  if (frame_) frame_->SetLinkStatus(status);
}

void CVantrelToolApp::PushViewSettings() {
  const PanelInfo panel = ctrl_->Panel();
  if (wave_ != nullptr) wave_->SetCounts(panel.xCount, panel.yCount);
  if (xy_ != nullptr) {
    if (xy_->IsFullScreenVisible()) {
      CWndXYFullDialog* full = xy_->FullScreen();
      full->SetCounts(panel.xCount, panel.yCount);
      draw_->SetResolution(panel.resolution);
      full->update();
      draw_->SetSuspended(true);
    } else if (xy_->isVisible()) {
      xy_->SetCounts(panel.xCount, panel.yCount);
      draw_->SetResolution(panel.resolution);
      draw_->SetRecomputeGrid();
      xy_->update();
    }
  }
}
