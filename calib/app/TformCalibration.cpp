#include "TformCalibration.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "calib/framework/TKorvikCommandTable.h"
#include "calib/framework/TKorvikTouchPanel.h"
#include "calib/framework/TKorvikTouchPanelControl.h"
#include "calib/framework/TKorvikUsbResponse.h"
#include "calib/framework/TKorvikUsbTransaction.h"

#ifndef LUMORA_CAPTION_VERSION
#define LUMORA_CAPTION_VERSION "2013.01.30.01"
#endif

namespace {

constexpr const char* kCaptions[3] = {"Not Ready", "Calibrate", "Calibrating"};

}  // namespace

TformCalibration::TformCalibration(ControlFactory factory, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint),
      FFactory(std::move(factory)) {
  setObjectName("formCalibration");
  setWindowTitle(QStringLiteral("KORVIK Lumora  " LUMORA_CAPTION_VERSION));
  setFont(QFont("Arial", 9));
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
  resize(404, 108);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  btnCalibrate = new QPushButton(kCaptions[StateCalibrate], this);
  btnCalibrate->setObjectName("btnCalibrate");
  btnCalibrate->setGeometry(2, 2, 281, 41);
  connect(btnCalibrate, &QPushButton::clicked, this, [this] { btnCalibrateClick(); });

  labTPInfo = new QLabel("TP info", this);
  labTPInfo->setObjectName("labTPInfo");
  labTPInfo->setGeometry(2, 48, 38, 15);
  labTPInfo->adjustSize();

  timerClose = new QTimer(this);
  timerClose->setObjectName("timerClose");
  timerClose->setInterval(100);
  timerClose->setSingleShot(false);
  connect(timerClose, &QTimer::timeout, this, [this] { timerCloseTimer(); });

  FormCreate();
}

TformCalibration::~TformCalibration() {
  FormClose();
}

void TformCalibration::FormCreate() {
  SetCalibrateState(StateNotReady);
  FClosing = false;
  btnCalibrate->resize(width() - 4, btnCalibrate->height());
}

void TformCalibration::SetCalibrateState(uint8_t state) {
  if (state > StateCalibrating) return;
  FCalibrateState = state;
  btnCalibrate->setText(kCaptions[state]);
  btnCalibrate->setEnabled(state == StateCalibrate);
}

bool TformCalibration::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) FormActivate();
  return QWidget::event(e);
}

void TformCalibration::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  // Some window systems never activate a window (no window manager): open anyway.
  QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TformCalibration::FormActivate() {
  if (FControl || FClosing) return;
  FControl =
      FFactory ? FFactory() : std::make_unique<TKorvikTouchPanelControl>(nullptr, nullptr, false);
  if (!FControl) return;
  FControl->SetOnMessage([this](TKorvikUsbMessage* m) { DoTouchPanelMessage(m); });
  FControl->SetOnTouchPanelAdded([this](TKorvikTouchPanel* p) { DoTouchPanelAdded(p); });
  FControl->SetOnTouchPanelRemoved([this](TKorvikTouchPanel* p) { DoTouchPanelRemoved(p); });
  FControl->SetOnTransactionsChanged([this](TKorvikObj* s) { DoTransactionsChanged(s); });
  if (FControl->TouchPanelCount() > 0) DoTouchPanelAdded(FControl->GetTouchPanel(0));
}

void TformCalibration::DoTouchPanelAdded(TKorvikTouchPanel*) {
  // A controller that arrives while closing is left as it was found.
  if (FClosing) return;
  FControl->CmdDfuGetBootSelect();
  TKorvikTouchPanel* panel = FControl->GetDefaultTouchPanel();
  if (!panel || panel->Mode() != TKorvikTouchPanel::ModeApplication) return;
  FControl->CmdChangeCoordinatesReportPermission(false);
  FControl->CmdtpcStopContinuallyReport();
  FControl->CmdChangeCoordinatesReportTarget(1);
  FControl->CmdGetFirmwareVersion(0);
  FControl->CmdGetFirmwareDetail();
}

void TformCalibration::DoTouchPanelRemoved(TKorvikTouchPanel*) {
  SetCalibrateState(StateNotReady);
  labTPInfo->setText("TP info");
  labTPInfo->adjustSize();
}

void TformCalibration::DoTouchPanelMessage(TKorvikUsbMessage* message) {
  // While closing, the hand-back is all that is left to do.
  if (FClosing || !dynamic_cast<TKorvikUsbResponse*>(message)) return;
  if (auto* ack = dynamic_cast<TKorvikUsbResponseType3*>(message)) {
    if (ack->CommandIndex() == KorvikCmd::Calibrate) CalibrationEnded(ack->IsSuccess());
  } else if (auto* version = dynamic_cast<TKorvikUsbResponseType4*>(message)) {
    std::string text;
    version->ContentText(text);
    // The controller pads the text with zero bytes; show what comes before the first.
    text = text.substr(0, text.find('\0'));
    labTPInfo->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    labTPInfo->adjustSize();
    SetCalibrateState(StateCalibrate);
  }
}

// A calibration that did not succeed, answered or not, leaves the controller in doubt:
// "Not Ready" until it is plugged in again. Reporting is permitted again either way.
void TformCalibration::CalibrationEnded(bool success) {
  SetCalibrateState(success ? StateCalibrate : StateNotReady);
  FControl->CmdChangeCoordinatesReportPermission(true);
}

void TformCalibration::DoTransactionsChanged(TKorvikObj* sender) {
  // A calibration that timed out or could not be sent ends here, not in DoTouchPanelMessage.
  auto* transaction = dynamic_cast<TKorvikUsbTransaction*>(sender);
  if (FClosing || !transaction || FCalibrateState != StateCalibrating) return;
  const uint8_t state = transaction->State();
  if (state != TKorvikUsbTransaction::StateSendFailed &&
      state != TKorvikUsbTransaction::StateTimedOut)
    return;
  auto* command = dynamic_cast<TKorvikUsbCommand*>(transaction->FirstMessage());
  if (!command || command->CommandIndex() != KorvikCmd::Calibrate) return;
  CalibrationEnded(false);
}

void TformCalibration::btnCalibrateClick() {
  if (FClosing) return;
  SetCalibrateState(StateCalibrating);
  if (FControl && !FControl->CmdCalibrate()) SetCalibrateState(StateNotReady);
}

// The first request is refused: the hand-back is queued and the timer asks again every
// 100 ms. A request is accepted once the hand-back went out, or when the wait is over.
bool TformCalibration::FormCloseQuery() {
  // Without a control there is nothing to hand back: close at once.
  if (!FControl) return true;
  if (FClosing) return HandBackSent() || FCloseDeadline.hasExpired();
  FClosing = true;
  QueueHandBack();
  FCloseDeadline.setRemainingTime(CloseWaitMs);
  timerClose->start();
  return false;
}

// Coordinates go back to the cursor and reporting is permitted again (the opening switched
// it off). What the opening still had queued is dropped, and the two commands go out even
// while an exchange, such as a calibration, waits for its answer.
void TformCalibration::QueueHandBack() {
  if (TKorvikTouchPanel* panel = FControl->GetTouchPanelQuiet(FControl->DefaultIndex())) {
    panel->AbandonQueued();
    panel->SetParallel(true);
  }
  FControl->CmdChangeCoordinatesReportTarget(0);
  FControl->CmdChangeCoordinatesReportPermission(true);
}

bool TformCalibration::HandBackSent() const {
  TKorvikTouchPanel* panel = FControl->GetTouchPanelQuiet(FControl->DefaultIndex());
  return !panel || panel->UnsentCount() == 0;
}

void TformCalibration::closeEvent(QCloseEvent* e) {
  if (!FormCloseQuery()) {
    e->ignore();
    return;
  }
  timerClose->stop();
  FormClose();
  e->accept();
}

void TformCalibration::timerCloseTimer() {
  close();
}

void TformCalibration::FormClose() {
  FControl.reset();
}
