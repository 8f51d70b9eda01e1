#include "TformCalibration.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "calib/framework/TKorvikTouchPanel.h"
#include "calib/framework/TKorvikTouchPanelControl.h"
#include "calib/framework/TKorvikUsbResponse.h"
#include "calib/framework/TKorvikUsbTransaction.h"

#ifndef LUMORA_CAPTION_VERSION
#define LUMORA_CAPTION_VERSION "2013.01.30.01"
#endif

namespace {

constexpr const char* kCaptions[3] = {"Not Ready", "Calibrate", "Calibrating"};
constexpr uint8_t kCalibrateRow = 13;

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

  btnCalibrate = new QPushButton(kCaptions[1], this);
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
  SetCalibrateState(0);
  FClosing = false;
  btnCalibrate->resize(width() - 4, btnCalibrate->height());
}

void TformCalibration::SetCalibrateState(uint8_t state) {
  if (state > 2) return;
  FCalibrateState = state;
  btnCalibrate->setText(kCaptions[state]);
  btnCalibrate->setEnabled(state == 1);
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
  FControl->CmdDfuGetBootSelect();
  TKorvikTouchPanel* panel = FControl->GetDefaultTouchPanel();
  if (!panel || panel->Mode() != 0) return;
  FControl->CmdChangeCoordinatesReportPermission(false);
  FControl->CmdtpcStopContinuallyReport();
  FControl->CmdChangeCoordinatesReportTarget(1);
  FControl->CmdGetFirmwareVersion(0);
  FControl->CmdGetFirmwareDetail();
}

void TformCalibration::DoTouchPanelRemoved(TKorvikTouchPanel*) {
  SetCalibrateState(0);
  labTPInfo->setText("TP info");
  labTPInfo->adjustSize();
}

void TformCalibration::DoTouchPanelMessage(TKorvikUsbMessage* message) {
  if (!dynamic_cast<TKorvikUsbResponse*>(message)) return;
  if (auto* ack = dynamic_cast<TKorvikUsbResponseType3*>(message)) {
    if (ack->CommandIndex() != kCalibrateRow) return;
    SetCalibrateState(ack->IsSuccess() ? 1 : 0);
    FControl->CmdChangeCoordinatesReportPermission(true);
  } else if (auto* version = dynamic_cast<TKorvikUsbResponseType4*>(message)) {
    std::string text;
    version->ContentText(text);
    // The controller pads the text with zero bytes; show what comes before the first.
    text = text.substr(0, text.find('\0'));
    labTPInfo->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    labTPInfo->adjustSize();
    SetCalibrateState(1);
  }
}

void TformCalibration::DoTransactionsChanged(TKorvikObj* sender) {
  // A calibration that timed out or could not be sent ends here, not in DoTouchPanelMessage:
  // give the button back so the user can try again.
  auto* transaction = dynamic_cast<TKorvikUsbTransaction*>(sender);
  if (!transaction || FCalibrateState != 2) return;
  const uint8_t state = transaction->State();
  if (state != 6 && state != 7) return;
  auto* command = dynamic_cast<TKorvikUsbCommand*>(transaction->FirstMessage());
  if (!command || command->CommandIndex() != kCalibrateRow) return;
  SetCalibrateState(1);
  FControl->CmdChangeCoordinatesReportPermission(true);
}

void TformCalibration::btnCalibrateClick() {
  SetCalibrateState(2);
  if (FControl && !FControl->CmdCalibrate()) SetCalibrateState(0);
}

bool TformCalibration::FormCloseQuery() {
  // Without a control there is nothing to hand back: close at once.
  if (!FControl) return true;
  const bool canClose = FClosing;
  if (!FClosing) {
    FControl->CmdChangeCoordinatesReportTarget(0);
    FClosing = true;
    timerClose->start();
  }
  return canClose;
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
