#include "CSendDialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <cstring>
#include <utility>

namespace {

const char kCaption[] = "VantrelTool Test Program";
const char kSent[] = ": command was sent.";
const char kNotSent[] = ": ERROR ! Command wasn't sent.";
const char kQueued[] = ": command is queued.";
const char kDisconnected[] = "Calibration: ERROR ! The controller was disconnected.";
const char kDoNotTouch[] = " Do not touch the glass!       Please wait ...";
const char kNotOk[] = ": ERROR ! Firmware's response is NOT OK.";
const char kSuccess[] = ": Success.";
const char kReceiving[] = ": receiving...";

const char kPermissionStop[] = "Stop\ncoordinates data";
const char kPermissionScan[] = "Scan\ncoordinates data";
const char kTargetCursor[] = "Output coordinates\nas OS's cursor";
const char kTargetXY[] = "Output coordinates\non XYWindow";
const char kLabelCursor[] = "Output coordinates as OS's cursor";
const char kLabelXY[] = "Output coordinates on XYWindow";
const char kLabelStopCoord[] = "Stop coordinates data";
const char kLabelScanCoord[] = "Scan coordinates data";

const char kStopDataCmd[] = "SEND  024E0180 ";

// Buttons that a calibration disables, then the three value edits.
const int kCalibrationButtons[] = {1046, 1047, 1049, 1052, 1059, 1058, 1060, 1048,
                                   1050, 1051, 1053, 1054, 1125, 1055, 1057, 1056};
const int kM1Buttons[] = {1049, 1052, 1058, 1047, 1059, 1060};

QString Id(int id) {
  return QStringLiteral("id%1").arg(id);
}

}  // namespace

const CSendDialog::StreamButton CSendDialog::kStreams[10] = {
    {1051, "Display M0\n raw data", "SEND 024E020400 ", "M0 raw data", false},
    {1050, "Display M0\n offset data", "SEND 024E020500 ", "M0 offset data", false},
    {1048, "Display M0\n signal data", "SEND 024E020600 ", "M0 signal data", false},
    {1049, "Display M1 X\n raw data", "SEND 024E020C00 ", "M1 X raw data", true},
    {1052, "Display M1 X\n offset data", "SEND 024E022500 ", "M1 X offset data", true},
    {1058, "Display M1 X\n signal data", "SEND 024E022600 ", "M1 X signal data", true},
    {1047, "Display M1 Y\n raw data", "SEND 024E020D00 ", "M1 Y raw data", true},
    {1059, "Display M1 Y\n offset data", "SEND 024E022D00 ", "M1 Y offset data", true},
    {1060, "Display M1 Y\n signal data", "SEND 024E022E00 ", "M1 Y signal data", true},
    {1046, "Stop data", kStopDataCmd, "Stop data", false},
};

CSendDialog::CSendDialog(CTransCtrl& ctrl, CSettingsRecord& settings, QWidget* parent)
    : QDialog(parent), ctrl_(ctrl), settings_(settings) {
  settings_.startup.SendWindow = 1;
  message_ = [](QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, kCaption, text, QMessageBox::Ok, owner);
    box.exec();
  };
  BuildControls();
  ctrl_.RegisterListener(kListenerSlot, kListenerActive, this);
  Send(QStringLiteral("SEND 024C020400 "));
  if (!ctrl_.FirmwareVersion().empty()) SetStatus(QStringLiteral("Idle."));
}

CSendDialog::~CSendDialog() {
  ctrl_.UnregisterListener(kListenerSlot);
}

QPushButton* CSendDialog::MakeButton(int id, const char* caption) {
  auto* b = new QPushButton(QString::fromUtf8(caption), this);
  b->setObjectName(Id(id));
  b->setAutoDefault(false);
  b->setDefault(false);
  return b;
}

QLineEdit* CSendDialog::MakeValueEdit(int id) {
  auto* e = new QLineEdit(this);
  e->setObjectName(Id(id));
  e->setAlignment(Qt::AlignCenter);
  e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
  e->setMaximumWidth(70);
  return e;
}

QPushButton* CSendDialog::Button(int id) const {
  return findChild<QPushButton*>(Id(id));
}

void CSendDialog::BuildControls() {
  setWindowTitle(QStringLiteral("Firmware Control Window"));
  auto* top = new QVBoxLayout(this);

  auto* versionBox = new QGroupBox(QStringLiteral("Firmware Version"), this);
  versionBox->setObjectName(Id(1110));
  version_ = new QLineEdit(versionBox);
  version_->setObjectName(Id(1119));
  version_->setReadOnly(true);
  auto* versionLayout = new QVBoxLayout(versionBox);
  versionLayout->addWidget(version_);
  // Which controller answers, when a station has several.
  device_ = new QLabel(versionBox);
  device_->setObjectName(QStringLiteral("deviceInUse"));
  device_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  versionLayout->addWidget(device_);
  top->addWidget(versionBox);

  auto* infoBox = new QGroupBox(QStringLiteral("Information"), this);
  infoBox->setObjectName(Id(1108));
  status_ = new QPlainTextEdit(infoBox);
  status_->setObjectName(Id(1120));
  status_->setReadOnly(true);
  status_->setFixedHeight(status_->fontMetrics().lineSpacing() * 3 + 12);
  (new QVBoxLayout(infoBox))->addWidget(status_);
  top->addWidget(infoBox);

  auto* toggles = new QHBoxLayout;
  permission_ = MakeButton(1125, kPermissionStop);
  permission_->setCheckable(true);
  target_ = MakeButton(1054, kTargetCursor);
  target_->setCheckable(true);
  auto* calibrate = MakeButton(1053, "Calibrate");
  for (QPushButton* b : {permission_, target_, calibrate}) {
    b->setMinimumHeight(44);
    toggles->addWidget(b);
  }
  connect(permission_, &QPushButton::clicked, this, [this] { OnBnClickedReportPermission(); });
  connect(target_, &QPushButton::clicked, this, [this] { OnBnClickedReportTarget(); });
  connect(calibrate, &QPushButton::clicked, this, [this] { OnBnClickedCalibrate(); });
  top->addLayout(toggles);
  top->addLayout(BuildValueRows());
  BuildStreamButtons(top);
  RefillEdits();
}

QGridLayout* CSendDialog::BuildValueRows() {
  auto* values = new QGridLayout;
  struct ValueRow {
    int editId, buttonId;
    const char *name, *unit, *button;
    QLineEdit** edit;
  };
  const ValueRow rows[] = {
      {1121, 1055, "Freq:", "KHz", "Change M0 SPI Frequency", &m0Edit_},
      {1123, 1057, "Freq:", "KHz", "Change M1 SPI Frequency", &m1Edit_},
      {1122, 1056, "Rate:", "ms", "Change Sampling Rate", &rateEdit_},
  };
  int col = 0;
  for (const ValueRow& r : rows) {
    auto* line = new QHBoxLayout;
    line->addWidget(new QLabel(QString::fromUtf8(r.name), this));
    *r.edit = MakeValueEdit(r.editId);
    line->addWidget(*r.edit);
    line->addWidget(new QLabel(QString::fromUtf8(r.unit), this));
    line->addStretch();
    values->addLayout(line, 0, col);
    values->addWidget(MakeButton(r.buttonId, r.button), 1, col);
    ++col;
  }
  connect(Button(1055), &QPushButton::clicked, this, [this] { OnBnClickedM0Freq(); });
  connect(Button(1057), &QPushButton::clicked, this, [this] { OnBnClickedM1Freq(); });
  connect(Button(1056), &QPushButton::clicked, this, [this] { OnBnClickedSamplingRate(); });
  return values;
}

void CSendDialog::BuildStreamButtons(QVBoxLayout* top) {
  auto* streams = new QGridLayout;
  for (int i = 0; i < 10; ++i) {
    const StreamButton& s = kStreams[i];
    QPushButton* b = MakeButton(s.id, s.caption);
    b->setMinimumHeight(44);
    if (i < 9)
      streams->addWidget(b, i / 3, i % 3);
    else
      streams->addWidget(b, 3, 2);
    const int id = s.id;
    connect(b, &QPushButton::clicked, this, [this, id] { OnBnClickedStreamButton(id); });
  }
  top->addLayout(streams);
}

int CSendDialog::Send(const QString& cmd) {
  const QByteArray text = cmd.toLatin1();
  // "SEND 024Cnnss..": a control command with sub-command ss.
  const QByteArray hex = text.mid(5).trimmed();
  bool ok = false;
  const int sub = hex.mid(6, 2).toInt(&ok, 16);
  if (hex.startsWith("024C") && ok) asked_[static_cast<size_t>(sub)] = true;
  return ctrl_.SendCmd(text.constData(), static_cast<int>(text.size()), 1, 1, &queued_);
}

void CSendDialog::SetStatus(const QString& text) {
  status_->setPlainText(text);
}

QString CSendDialog::StatusText() const {
  return status_->toPlainText();
}

void CSendDialog::WriteSendStatus(const QString& label, int result) {
  SetStatus(label + (queued_ ? kQueued : result == -1 ? kNotSent : kSent));
}

void CSendDialog::ShowMessage(const QString& text) {
  if (message_) message_(this, text);
}

void CSendDialog::OnBnClickedStreamButton(int id) {
  for (const StreamButton& s : kStreams) {
    if (s.id != id) continue;
    if (id == 1046) {
      OnBnClickedStopData();
      return;
    }
    WriteSendStatus(QString::fromUtf8(s.label), Send(QString::fromUtf8(s.command)));
    if (s.m1) m1Display_ = 1;
    return;
  }
}

void CSendDialog::OnBnClickedStopData() {
  WriteSendStatus(QStringLiteral("Stop data"), Send(QString::fromUtf8(kStopDataCmd)));
  m1Display_ = 0;
}

void CSendDialog::OnBnClickedReportTarget() {
  const int target = ctrl_.ReportTarget();
  if (ctrl_.GetLinkState() == kLinkClosed) {
    SetStatus(QString::fromUtf8(target == 1 ? kLabelCursor : kLabelXY) + kNotSent);
    target_->setChecked(target == 0);
    return;
  }
  if (target_->text() == QString::fromUtf8(kTargetCursor)) {
    if (m1Display_ == 1) OnBnClickedStopData();
    WriteSendStatus(kLabelCursor, Send(QStringLiteral("SEND 024C020500 ")));
  } else {
    WriteSendStatus(kLabelXY, Send(QStringLiteral("SEND 024C020501 ")));
  }
}

void CSendDialog::OnBnClickedReportPermission() {
  const int permission = ctrl_.ReportPermission();
  if (ctrl_.GetLinkState() == kLinkClosed) {
    SetStatus(QString::fromUtf8(permission == 1 ? kLabelScanCoord : kLabelStopCoord) + kNotSent);
    permission_->setChecked(permission == 1);
    return;
  }
  if (permission_->text() == QString::fromUtf8(kPermissionStop))
    WriteSendStatus(kLabelStopCoord, Send(QStringLiteral("SEND 024C020801 ")));
  else
    WriteSendStatus(kLabelScanCoord, Send(QStringLiteral("SEND 024C020800 ")));
}

void CSendDialog::OnBnClickedCalibrate() {
  const QString label = QStringLiteral("Calibration");
  if (ctrl_.IsReceiving()) {
    SetStatus(
        label + kNotSent +
        QStringLiteral("Please press \"Stop data\" and \"Stop coordinates data\" buttons first."));
    return;
  }
  if (Send(QStringLiteral("SEND 024C0101 ")) == -1 && !queued_) {
    SetStatus(label + kNotSent);
    return;
  }
  calibrating_ = true;
  SetCalibrationControlsEnabled(false);
  SetStatus(label + (queued_ ? kQueued : kSent) + kDoNotTouch);
}

void CSendDialog::OnLinkStatusChanged(bool connected) {
  if (connected) {
    // The stream that ran when the controller went away runs again.
    if (resume_ != nullptr) {
      const StreamButton* s = std::exchange(resume_, nullptr);
      WriteSendStatus(QString::fromUtf8(s->label), Send(QString::fromLatin1(s->command)));
    }
    return;
  }
  if (!calibrating_) {
    // Another command's status may have replaced "receiving...": the stream still ran.
    if (running_ != nullptr) {
      resume_ = std::exchange(running_, nullptr);
      SetStatus(QString::fromUtf8(resume_->label) +
                QStringLiteral(": stopped, the controller was disconnected."));
    }
    return;
  }
  calibrating_ = false;
  SetCalibrationControlsEnabled(true);
  SetStatus(QString::fromUtf8(kDisconnected));
}

void CSendDialog::SetCalibrationControlsEnabled(bool on) {
  for (int id : kCalibrationButtons) Button(id)->setEnabled(on);
  for (QLineEdit* e : {m0Edit_, m1Edit_, rateEdit_}) e->setEnabled(on);
}

void CSendDialog::SetM1ButtonsEnabled(bool on) {
  for (int id : kM1Buttons) Button(id)->setEnabled(on);
}

void CSendDialog::RefillEdits() {
  m0Edit_->setText(QString::number(m0Freq_));
  m1Edit_->setText(QString::number(m1Freq_));
  rateEdit_->setText(QString::number(samplingRate_));
}

// Takes the three edits into the members. An edit that holds no number keeps its member
// and shows it again.
void CSendDialog::TakeEdits() {
  const std::pair<QLineEdit*, int*> pairs[] = {
      {m0Edit_, &m0Freq_}, {m1Edit_, &m1Freq_}, {rateEdit_, &samplingRate_}};
  for (const auto& [edit, member] : pairs) {
    bool ok = false;
    const int v = edit->text().trimmed().toInt(&ok);
    if (ok)
      *member = v;
    else
      edit->setText(QString::number(*member));
  }
}

void CSendDialog::OnFrequency(bool m1) {
  QLineEdit* edit = m1 ? m1Edit_ : m0Edit_;
  int& member = m1 ? m1Freq_ : m0Freq_;
  const int defaultValue = m1 ? 100 : 250;
  const QString label =
      m1 ? QStringLiteral("M1 Frequency setting") : QStringLiteral("M0 Frequency setting");
  const QString text = edit->text().trimmed();
  if (text.isEmpty()) {
    SetStatus(label + kNotSent + "\n" + QStringLiteral("Please check the value."));
    RefillEdits();
    return;
  }
  bool ok = false;
  const int value = text.toInt(&ok);
  TakeEdits();
  if (!ok || !(value == 0 || (value >= 32 && value <= 500))) {
    member = defaultValue;
    RefillEdits();
    SetStatus(label + kNotSent);
    ShowMessage(QStringLiteral(
        "Please input a value in range [32, 500] KHz, or input \"0\" to use firmware's default "
        "value."));
    return;
  }
  member = value;
  const QString digits = QString::asprintf("%04x", value);
  const QString cmd = QString::fromLatin1(m1 ? "SEND 024C040701" : "SEND 024C040700") +
                      digits.mid(2, 2) + digits.mid(0, 2) + " ";
  WriteSendStatus(label, Send(cmd));
}

void CSendDialog::OnBnClickedM0Freq() {
  OnFrequency(false);
}
void CSendDialog::OnBnClickedM1Freq() {
  OnFrequency(true);
}

void CSendDialog::OnBnClickedSamplingRate() {
  const QString label = QStringLiteral("Sampling Rate setting");
  const QString text = rateEdit_->text().trimmed();
  if (text.isEmpty()) {
    SetStatus(label + kNotSent + QStringLiteral("Please check the value."));
    RefillEdits();
    return;
  }
  bool ok = false;
  const int value = text.toInt(&ok);
  TakeEdits();
  if (!ok || value < 1 || value > 255) {
    samplingRate_ = 10;
    RefillEdits();
    SetStatus(label + kNotSent);
    ShowMessage(QStringLiteral("Please input a value in range [1, 255] ms."));
    return;
  }
  samplingRate_ = value;
  WriteSendStatus(label,
                  Send(QStringLiteral("SEND 024C0203") + QString::asprintf("%02x", value) + " "));
}

int CSendDialog::OnTransCallback(const TransFrame& frame) {
  const int len = frame.len;
  const uint8_t* bytes = frame.bytes;
  // Bytes 1, 3 and 4 are needed; shorter frames carry no reply.
  if (len < 5 || bytes == nullptr) return 0;
  const uint8_t group = bytes[1];
  const uint8_t sub = bytes[3];
  const bool ok = bytes[4] == 1;
  if (group == 0x4C)
    HandleControlReply(sub, ok);
  else if (group == 0x4E)
    HandleStreamReply(sub, ok);
  return 0;
}

void CSendDialog::HandleControlReply(uint8_t sub, bool ok) {
  const int target = ctrl_.ReportTarget();
  const int permission = ctrl_.ReportPermission();
  // Replies to the link's opening commands set the buttons but say nothing.
  const bool asked = asked_[sub];
  if (ok) asked_[sub] = false;
  switch (sub) {
    case 0x01:
      if (ok) SetStatus(QStringLiteral("Calibration finished."));
      calibrating_ = false;
      SetCalibrationControlsEnabled(true);
      break;
    case 0x03:
      if (ok) SetStatus(QStringLiteral("Sampling Rate setting") + kSuccess);
      break;
    case 0x04:
      version_->setText(QString::fromLatin1(ctrl_.FirmwareVersion().c_str()));
      device_->setText(QString::fromStdString(LinkDeviceText(ctrl_.Device())));
      SetM1ButtonsEnabled(true);
      break;
    case 0x05:
      if (ok) {
        target_->setText(QString::fromUtf8(target == 1 ? kTargetCursor : kTargetXY));
        target_->setChecked(target == 0);
        if (asked)
          SetStatus(target == 1 ? QStringLiteral("Output coordinates: drawn on XYWindow.")
                                : QStringLiteral("Output coordinates: used as OS's cursor."));
        SetM1ButtonsEnabled(target == 1);
      } else {
        target_->setChecked(target == 1);
        if (asked) SetStatus(QString::fromUtf8(target == 1 ? kLabelXY : kLabelCursor) + kNotOk);
      }
      break;
    case 0x07:
      if (ok) SetStatus(QStringLiteral("Frequency setting") + kSuccess);
      break;
    case 0x08: {
      const QString label = QString::fromUtf8(permission == 1 ? kLabelStopCoord : kLabelScanCoord);
      if (ok) {
        permission_->setText(
            QString::fromUtf8(permission == 1 ? kPermissionScan : kPermissionStop));
        permission_->setChecked(permission == 1);
        if (asked) SetStatus(label + kSuccess);
      } else {
        permission_->setChecked(permission == 0);
        if (asked) SetStatus(label + kNotOk);
      }
      break;
    }
    default:
      break;
  }
}

void CSendDialog::HandleStreamReply(uint8_t sub, bool ok) {
  if (!ok) return;
  const char* label = nullptr;
  switch (sub) {
    case 0x04:
      label = "M0 raw data";
      break;
    case 0x05:
      label = "M0 offset data";
      break;
    case 0x06:
      label = "M0 signal data";
      break;
    case 0x0C:
      label = "M1 X raw data";
      break;
    case 0x25:
      label = "M1 X offset data";
      break;
    case 0x26:
      label = "M1 X signal data";
      break;
    case 0x0D:
      label = "M1 Y raw data";
      break;
    case 0x2D:
      label = "M1 Y offset data";
      break;
    case 0x2E:
      label = "M1 Y signal data";
      break;
    case 0x1C:
      label = "Open/Short X data";
      break;
    case 0x1D:
      label = "Open/Short Y data";
      break;
    case 0x80:
      running_ = nullptr;
      SetStatus(QStringLiteral("Idle."));
      return;
    default:
      return;
  }
  running_ = nullptr;
  for (const StreamButton& s : kStreams) {
    if (std::strcmp(s.label, label) == 0) running_ = &s;
  }
  SetStatus(QString::fromUtf8(label) + kReceiving);
}

void CSendDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  settings_.startup.SendWindow = 1;  // also when shown again after a close
}

void CSendDialog::closeEvent(QCloseEvent* e) {
  settings_.startup.SendWindow = 0;
  hide();
  e->accept();
}

void CSendDialog::keyPressEvent(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      e->accept();
      return;
    default:
      QDialog::keyPressEvent(e);
  }
}
