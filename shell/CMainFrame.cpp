#include "CMainFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QWindowStateChangeEvent>

#include "shell/CVantrelToolApp.h"
#include "shell/StatusIcons.h"

namespace {

const char kGetVersion[] = "SEND 024C020400 ";
const char kStopStreams[] = "SEND  024E0180 ";
const char kTargetCursor[] = "SEND 024C020500 ";

constexpr int kDeviceTimerMs = 200;   // 112
constexpr int kStartupTimerMs = 100;  // 114
constexpr int kCloseTimerMs = 200;    // 116
constexpr int kSerialRetryMs = 500;
// Re-checks after the data stopped, while queued commands still wait to be written.
constexpr int kMaxChecksAfterQuiet = 10;

int Len(const char* s) {
  return static_cast<int>(std::char_traits<char>::length(s));
}

QTimer* SingleShot(QObject* parent, int ms, const char* name) {
  auto* t = new QTimer(parent);
  t->setSingleShot(true);
  t->setInterval(ms);
  t->setObjectName(QString::fromLatin1(name));
  return t;
}

}  // namespace

CMainFrame::CMainFrame(CVantrelToolApp& app) : app_(app) {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setCentralWidget(new QWidget(this));

  // Panes 0, 1 and 2: zero, 200 and 250 pixels wide; the link status in pane 1.
  auto* pane0 = new QWidget(this);
  pane0->setFixedWidth(0);
  auto* pane1 = new QWidget(this);
  pane1->setFixedWidth(200);
  auto* row = new QHBoxLayout(pane1);
  row->setContentsMargins(2, 0, 2, 0);
  row->setSpacing(4);
  statusIcon_ = new QLabel(pane1);
  statusIcon_->setObjectName(QStringLiteral("statusIcon"));
  statusText_ = new QLabel(pane1);
  statusText_->setObjectName(QStringLiteral("statusText"));
  row->addWidget(statusIcon_);
  row->addWidget(statusText_, 1);
  auto* pane2 = new QLabel(this);
  pane2->setFixedWidth(250);
  pane2->setObjectName(QStringLiteral("recordStatus"));
  recordText_ = pane2;
  statusBar()->addWidget(pane0);
  statusBar()->addWidget(pane1);
  statusBar()->addWidget(pane2);

  deviceTimer_ = SingleShot(this, kDeviceTimerMs, "timer112");
  startupTimer_ = SingleShot(this, kStartupTimerMs, "timer114");
  closeTimer_ = SingleShot(this, kCloseTimerMs, "timer116");
  connect(deviceTimer_, &QTimer::timeout, this, &CMainFrame::OnDeviceTimer);
  connect(startupTimer_, &QTimer::timeout, this, [this] { app_.OpenStartupWindows(); });
  connect(closeTimer_, &QTimer::timeout, this, &CMainFrame::OnCloseTimer);
  noticeTimer_ = SingleShot(this, kNoticeMs, "notice");
  connect(noticeTimer_, &QTimer::timeout, this, [this] {
    recordText_->setText(record_);
    recordText_->setToolTip(QString());
  });
  serialRetryTimer_ = SingleShot(this, kSerialRetryMs, "serialRetry");
  connect(serialRetryTimer_, &QTimer::timeout, this, &CMainFrame::OnDeviceTimer);
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::BuildMenus() {
  menuBar()->clear();
  actions_.clear();
  struct Item {
    int command;
    const char* caption;
    bool handled;
    bool checkable;
  };
  struct Popup {
    const char* caption;
    std::vector<Item> items;
  };
  const Popup popups[] = {
      {"File(&F)",
       {{ID_SETTINGS, "Settings (&S)", true, false},
        {ID_RECORD_SESSION, "Record session... (&R)", true, true},
        {ID_OPEN_CAPTURE, "Open capture... (&O)", true, false},
        {ID_APP_EXIT, "Exit (&X)", true, false}}},
      {"Windows(&W)",
       {{ID_XY_WINDOW, "XY Window (&Z)", true, true},
        {ID_WAVE_WINDOW, "Wave Window (&W)", true, true},
        {ID_TEST_PANEL, "Test Panel (&T)", false, false},
        {ID_MECHANICS_WINDOW, "Mechanics Control Window (&M)", false, false}}},
      {"Tools(&T)",
       {{ID_COMMAND_WINDOW, "Command Window (&C)", false, false},
        {ID_DEBUG_WINDOW, "Debug Window (&D)", false, false},
        {ID_SEND_WINDOW, "Firmware Control Window (&F)", true, true},
        {ID_LOT_ANALYZER, "Lot Analyzer (&A)", false, false}}},
      {"Help(&H)",
       {{ID_HELP, "Help (&H)", true, false}, {ID_APP_ABOUT, "Version (&V)", true, false}}},
  };
  for (const Popup& popup : popups) {
    QMenu* menu = menuBar()->addMenu(QString::fromUtf8(popup.caption));
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateMenuChecks);
    for (const Item& item : popup.items) {
      QAction* a = menu->addAction(QString::fromUtf8(item.caption));
      a->setObjectName(QStringLiteral("cmd%1").arg(item.command));
      a->setEnabled(item.handled);
      a->setCheckable(item.checkable);
      actions_[item.command] = a;
      if (!item.handled) continue;
      const int command = item.command;
      connect(a, &QAction::triggered, this, [this, command, a] {
        if (a->isCheckable()) UpdateMenuChecks();  // the click flipped it
        app_.OnCommand(command);
      });
    }
  }
}

QAction* CMainFrame::Action(int command) const {
  auto it = actions_.find(command);
  return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::UpdateMenuChecks() {
  if (QAction* a = Action(ID_XY_WINDOW)) a->setChecked(app_.IsXYWindowVisible());
  if (QAction* a = Action(ID_WAVE_WINDOW)) a->setChecked(app_.IsWaveWindowVisible());
  if (QAction* a = Action(ID_SEND_WINDOW)) a->setChecked(app_.IsSendWindowVisible());
  if (QAction* a = Action(ID_RECORD_SESSION)) a->setChecked(app_.IsRecording());
}

void CMainFrame::SetLinkStatus(LinkStatus status) {
  status_ = status;
  statusIconId_ = status == LinkStatus::kConnected ? kIconConnected : kIconDisconnected;
  statusIcon_->setPixmap(StatusIcon(statusIconId_));
  if (replayName_.isEmpty()) {
    statusText_->setText(QString::fromLatin1(LinkStatusText(status)));
    // Which controller is connected, when a station has several.
    statusText_->setToolTip(status == LinkStatus::kConnected
                                ? QString::fromStdString(LinkDeviceText(app_.Ctrl().Device()))
                                : QString());
  } else {
    const QString text = QStringLiteral("PLAYING %1").arg(replayName_);
    statusText_->setText(statusText_->fontMetrics().elidedText(text, Qt::ElideMiddle, 170));
    statusText_->setToolTip(text);
  }
  app_.OnLinkStatusChanged(status == LinkStatus::kConnected);
}

void CMainFrame::SetReplayName(const QString& name) {
  replayName_ = name;
  SetLinkStatus(status_);
}

void CMainFrame::ShowNotice(const QString& text) {
  recordText_->setText(recordText_->fontMetrics().elidedText(text, Qt::ElideMiddle, 245));
  recordText_->setToolTip(text);
  noticeTimer_->start();
}

QString CMainFrame::StatusText() const {
  return statusText_->text();
}

void CMainFrame::SetRecordText(const QString& text) {
  record_ = text;
  if (!noticeTimer_->isActive()) recordText_->setText(text);
}

QString CMainFrame::RecordText() const {
  return record_;
}

QString CMainFrame::NoticeText() const {
  return noticeTimer_->isActive() ? recordText_->toolTip() : QString();
}

bool CMainFrame::Connect() {
  CTransCtrl& ctrl = app_.Ctrl();
  if (ctrl.GetLinkType() == kLinkCom) {
    // Closing first also stops the receive thread of the old link.
    ctrl.Close();
    SerialLineSettings line = app_.SerialSettings();
    return ctrl.Open(kLinkCom, &line) == 1;
  }
  if (ctrl.GetLinkState() == kLinkClosed) ctrl.Open(kLinkUsb, nullptr);
  if (ctrl.SendCmdDirect(kGetVersion, Len(kGetVersion), 1) == -1) {
    ctrl.SetLinkState(kLinkClosed);
    ctrl.Close();
    return false;
  }
  return true;
}

void CMainFrame::OnDeviceChange() {
  deviceTimer_->start();
}

void CMainFrame::OnDeviceTimer() {
  if (closing_) return;
  const bool connected = Connect();
  SetLinkStatus(connected ? LinkStatus::kConnected : LinkStatus::kDisconnected);
  if (!connected && app_.Ctrl().GetLinkType() == kLinkCom) serialRetryTimer_->start();
}

void CMainFrame::StartStartupTimer() {
  startupTimer_->start();
}

bool CMainFrame::IsDeviceTimerActive() const {
  return deviceTimer_->isActive();
}
bool CMainFrame::IsCloseTimerActive() const {
  return closeTimer_->isActive();
}

bool CMainFrame::CloseHandshake() {
  CTransCtrl& ctrl = app_.Ctrl();
  int r1 = 0;
  int r2 = 0;
  if (ctrl.IsReceiving()) {
    const auto answer = app_.Hooks().messageBox(
        this, QMessageBox::Question,
        QStringLiteral("Program is communicating with the firmware. Do you really want to close?"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) return false;
    r1 = ctrl.SendCmd(kStopStreams, Len(kStopStreams), 1, 1);
  }
  if (ctrl.GetLinkType() != kLinkCom) r2 = ctrl.SendCmd(kTargetCursor, Len(kTargetCursor), 1, 1);
  if ((r1 != -1 && r2 != -1) || ctrl.GetLinkState() == kLinkClosed) return true;
  closeChecksAfterQuiet_ = 0;
  closeTimer_->start();
  return false;
}

// The commands of the handshake are queued; the window closes once the data has stopped
// and they have gone out (or, with a silent device, after a bounded wait).
void CMainFrame::OnCloseTimer() {
  CTransCtrl& ctrl = app_.Ctrl();
  if (ctrl.IsReceiving()) {
    closeTimer_->start();
    return;
  }
  if (CTransCtrl::PendingCount() > 0 && ctrl.GetLinkState() != kLinkClosed &&
      closeChecksAfterQuiet_++ < kMaxChecksAfterQuiet) {
    closeTimer_->start();
    return;
  }
  closing_ = true;
  close();
}

void CMainFrame::closeEvent(QCloseEvent* e) {
  if (closing_ || CloseHandshake()) {
    closing_ = true;
    closeTimer_->stop();
    e->accept();
    emit closed();
    return;
  }
  e->ignore();
}

QRect CMainFrame::WorkArea() const {
  const QScreen* s = screen();
  return s != nullptr ? s->availableGeometry() : QRect(0, 0, 1024, 768);
}

void CMainFrame::RestoreBar() {
  const QRect wa = WorkArea();
  move(wa.topLeft());
  resize(kBarWidth, kBarHeight);
}

void CMainFrame::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() != QEvent::WindowStateChange) return;
  const auto* ev = static_cast<QWindowStateChangeEvent*>(e);
  const bool wasMaximized = ev->oldState() & Qt::WindowMaximized;
  const Qt::WindowStates now = windowState();
  if (wasMaximized && !(now & (Qt::WindowMaximized | Qt::WindowMinimized)))
    QTimer::singleShot(0, this, &CMainFrame::RestoreBar);
}
