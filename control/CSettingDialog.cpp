#include "CSettingDialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "CSetSerialPortDlg.h"
#include "IAppServices.h"
#include "link/CTransCtrl.h"

namespace {

constexpr const char* kReceiving =
    "Can't apply settings because program is receiving data from firmware.";

template <class W>
W* Named(W* widget, int id) {
  widget->setObjectName(QString("id%1").arg(id));
  return widget;
}

QString Identity(uint16_t vid, uint16_t pid) {
  return QString::asprintf("VID 0x%04x, PID 0x%04x: Device was not found.\n", vid, pid);
}

// "Sensor Condition": the electrode counts.
QGroupBox* SensorGroup(QWidget* parent, QLineEdit*& xCount, QLineEdit*& yCount) {
  auto* sensor = Named(new QGroupBox("Sensor Condition", parent), 1150);
  xCount = Named(new QLineEdit(sensor), 1024);
  yCount = Named(new QLineEdit(sensor), 1025);
  auto* grid = new QGridLayout(sensor);
  grid->addWidget(Named(new QLabel("Number of X Axis", sensor), 1151), 0, 0);
  grid->addWidget(xCount, 0, 1);
  grid->addWidget(Named(new QLabel("Number of Y Axis", sensor), 1152), 1, 0);
  grid->addWidget(yCount, 1, 1);
  return sensor;
}

// "XY Window": the coordinate resolution.
QGroupBox* XYGroup(QWidget* parent, QLineEdit*& resolution) {
  auto* xy = Named(new QGroupBox("XY Window", parent), 1153);
  resolution = Named(new QLineEdit(xy), 1026);
  auto* grid = new QGridLayout(xy);
  grid->addWidget(Named(new QLabel("Resolution of Coordinate", xy), 1154), 0, 0);
  grid->addWidget(resolution, 0, 1);
  grid->addWidget(new QLabel("(256, 512...)", xy), 0, 2);
  return xy;
}

}  // namespace

CSettingDialog::CSettingDialog(CSettingsRecord& record, CTransCtrl& ctrl, IAppServices& app,
                               QWidget* parent)
    : QDialog(parent), record_(record), ctrl_(ctrl), app_(app) {
  showMessage = [this](const QString& text, QMessageBox::Icon icon) {
    ShowDefaultMessage(text, icon);
  };
  chooseIniFile = [this] { return DefaultChooseIniFile(); };
  comPortDlg_ = new CSetSerialPortDlg(record_.comPort, this);
  barcodePortDlg_ = new CSetSerialPortDlg(record_.barcodePort, this);
  BuildControls();
  ShowRecord();
}

CSettingDialog::~CSettingDialog() = default;

void CSettingDialog::BuildControls() {
  setWindowTitle("Settings Window");
  setModal(true);

  auto* iniLoad = Named(new QPushButton("Ini File Load", this), 1015);

  auto* comm = Named(new QGroupBox("Communication", this), 1148);
  usb_ = Named(new QRadioButton("USB", comm), 1020);
  com_ = Named(new QRadioButton("COM", comm), 1021);
  property_ = Named(new QPushButton("Property", comm), 1022);
  comPortNum_ = Named(new QLabel(comm), 1023);
  comPortNum_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* commRow = new QHBoxLayout(comm);
  commRow->addWidget(usb_);
  commRow->addWidget(com_);
  commRow->addWidget(property_);
  commRow->addWidget(comPortNum_);

  auto* barcode = Named(new QGroupBox("Barcode Reader Port", this), 1149);
  auto* port = Named(new QPushButton("Port", barcode), 1030);
  barcodePortNum_ = Named(new QLabel(barcode), 1031);
  barcodePortNum_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* barcodeRow = new QHBoxLayout(barcode);
  barcodeRow->addWidget(port);
  barcodeRow->addWidget(barcodePortNum_);

  QGroupBox* sensor = SensorGroup(this, xCount_, yCount_);
  QGroupBox* xy = XYGroup(this, resolution_);

  // Stored only: kept in the form, never shown.
  fingerCount_ = Named(new QLineEdit(this), 1027);
  fingerCount_->hide();
  auto* fingerLabel = new QLabel("Finger count", this);
  fingerLabel->setObjectName("idFingerCountLabel");
  fingerLabel->hide();
  zValue_ = Named(new QCheckBox("Z Value ", this), 1028);
  zValue_->hide();

  auto* ok = Named(new QPushButton("OK", this), 1);
  auto* save = Named(new QPushButton("Save", this), 1017);
  auto* cancel = Named(new QPushButton("Cancel", this), 2);
  ok->setDefault(true);
  for (QPushButton* b : {iniLoad, property_, port, save, cancel}) b->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(iniLoad);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(save);
  buttons->addWidget(cancel);
  auto* top = new QVBoxLayout(this);
  top->addWidget(comm);
  top->addWidget(barcode);
  top->addWidget(sensor);
  top->addWidget(xy);
  settingsFile_ = new QLabel(this);
  settingsFile_->setObjectName("idSettingsFile");
  settingsFile_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  settingsFile_->setWordWrap(true);
  top->addWidget(settingsFile_);
  top->addLayout(buttons);

  connect(iniLoad, &QPushButton::clicked, this, &CSettingDialog::OnIniFileLoad);
  connect(usb_, &QRadioButton::clicked, this, &CSettingDialog::OnUsb);
  connect(com_, &QRadioButton::clicked, this, &CSettingDialog::OnCom);
  connect(property_, &QPushButton::clicked, this, &CSettingDialog::OnProperty);
  connect(port, &QPushButton::clicked, this, &CSettingDialog::OnPort);
  connect(ok, &QPushButton::clicked, this, &CSettingDialog::OnOK);
  connect(save, &QPushButton::clicked, this, &CSettingDialog::OnSave);
  connect(cancel, &QPushButton::clicked, this, &CSettingDialog::reject);
  for (QLineEdit* e : {xCount_, yCount_, resolution_}) {
    connect(e, &QLineEdit::textChanged, this, &CSettingDialog::OnNumberEdited);
  }
}

void CSettingDialog::ShowRecord() {
  showing_ = true;
  usb_->setChecked(record_.usbCom == 0);
  com_->setChecked(record_.usbCom != 0);
  comPortNum_->setText(QString::number(record_.portNum));
  barcodePortNum_->setText(QString::number(record_.barcodePortNum));
  // The geometry in force: the controller's, once it reported its panel.
  const PanelInfo panel = ctrl_.Panel();
  xCount_->setText(QString::number(panel.xCount));
  yCount_->setText(QString::number(panel.yCount));
  resolution_->setText(QString::number(panel.resolution));
  fingerCount_->setText(QString::number(record_.fingerCount));
  zValue_->setChecked(record_.zValue != 0);
  showing_ = false;
}

void CSettingDialog::showEvent(QShowEvent* event) {
  ShowRecord();
  settingsFile_->setText(QStringLiteral("Settings file: ") +
                         QString::fromStdString(record_.FilePath()));
  property_->setEnabled(record_.usbCom != 0);
  const bool receiving = ctrl_.IsReceiving();
  xCount_->setEnabled(!receiving);
  yCount_->setEnabled(!receiving);
  QDialog::showEvent(event);
}

void CSettingDialog::SetPanelFields(int xCount, int yCount, int resolution) {
  showing_ = true;
  xCount_->setText(QString::number(xCount));
  yCount_->setText(QString::number(yCount));
  resolution_->setText(QString::number(resolution));
  showing_ = false;
}

bool CSettingDialog::TakeInt(QLineEdit* edit, int lo, int hi, int& out) {
  bool isInt = false;
  const int v = edit->text().trimmed().toInt(&isInt);
  QString refusal;
  if (!isInt) {
    refusal = "Please enter an integer.";
  } else if (v < lo || v > hi) {
    refusal = QString("Please enter an integer between %1 and %2.").arg(lo).arg(hi);
  }
  if (!refusal.isEmpty()) {
    showMessage(refusal, QMessageBox::NoIcon);
    edit->setFocus();
    edit->selectAll();
    return false;
  }
  out = v;
  return true;
}

bool CSettingDialog::TakeControlValues() {
  // In form order; a refused control and those after it keep their record values.
  record_.usbCom = com_->isChecked() ? 1 : 0;
  bool ok = TakeInt(xCount_, 1, 255, record_.xCount) && TakeInt(yCount_, 1, 255, record_.yCount) &&
            TakeInt(resolution_, 1, 65535, record_.resolution);
  if (ok) {
    int fingers = record_.fingerCount;
    ok = TakeInt(fingerCount_, 1, 12, fingers);
    if (ok) {
      record_.fingerCount = static_cast<uint8_t>(fingers);
      record_.zValue = zValue_->isChecked() ? 1 : 0;
    }
  }
  ctrl_.SetPanelCounts(record_.xCount, record_.yCount, record_.resolution);
  return ok;
}

void CSettingDialog::OnNumberEdited() {
  if (!showing_) TakeControlValues();
}

void CSettingDialog::OnUsb() {
  record_.usbCom = 0;
  property_->setEnabled(false);
}

void CSettingDialog::OnCom() {
  record_.usbCom = 1;
  property_->setEnabled(true);
}

void CSettingDialog::RunPortDialog(CSetSerialPortDlg& dlg, int& portNum) {
  dlg.Params().portNum = portNum;
  dlg.exec();
  portNum = dlg.Params().portNum;
  ShowRecord();
}

void CSettingDialog::OnProperty() {
  RunPortDialog(*comPortDlg_, record_.portNum);
}

void CSettingDialog::OnPort() {
  RunPortDialog(*barcodePortDlg_, record_.barcodePortNum);
}

bool CSettingDialog::RefuseWhileReceiving() {
  if (!ctrl_.IsReceiving()) return false;
  showMessage(kReceiving, QMessageBox::NoIcon);
  return true;
}

void CSettingDialog::OnOK() {
  if (RefuseWhileReceiving()) return;
  ApplySettings();
  if (TakeControlValues()) QDialog::accept();
}

void CSettingDialog::OnSave() {
  if (RefuseWhileReceiving()) return;
  TakeControlValues();  // the save goes on with the record as it stands
  if (!record_.SaveSettings()) {
    showMessage(QString("The settings could not be saved to %1:\n%2")
                    .arg(QString::fromStdString(record_.FilePath()),
                         QString::fromStdString(record_.LastError())),
                QMessageBox::Warning);
  }
  ApplySettings();
}

void CSettingDialog::reject() {
  ShowRecord();
  QDialog::reject();
}

void CSettingDialog::OnIniFileLoad() {
  const QString path = chooseIniFile();
  if (path.isEmpty()) return;
  // Which windows are open belongs to this run, not to the loaded file.
  const StartupFlags open = record_.startup;
  record_.LoadSettings(path.toStdString(), &ctrl_);
  record_.startup = open;
  property_->setEnabled(record_.usbCom != 0);
  ShowRecord();
}

void CSettingDialog::ApplySettings() {
  // Closing first stops the receive thread before the link it reads is replaced.
  ctrl_.Close();
  int result = 0;
  if (record_.usbCom == 0) {
    result = ctrl_.Open(kLinkUsb, nullptr);
  } else {
    SerialLineSettings line = record_.comPort;
    line.portNum = record_.portNum;
    result = ctrl_.Open(kLinkCom, &line);
  }
  if (result == 1) {
    app_.SetLinkStatus(LinkStatus::kConnected);
  } else {
    app_.SetLinkStatus(LinkStatus::kDisconnected);
    showMessage("Port open failure!\n" + Identity(ctrl_.VendorId(0), ctrl_.ProductId(0)) +
                    Identity(ctrl_.VendorId(1), ctrl_.ProductId(1)) +
                    QString::fromStdString(ctrl_.OpenFailureText()),
                QMessageBox::Warning);
  }
  PushViewSettings();
}

void CSettingDialog::PushViewSettings() {
  app_.PushViewSettings();
}

void CSettingDialog::ShowDefaultMessage(const QString& text, QMessageBox::Icon icon) {
  QMessageBox box(icon, kCaption, text, QMessageBox::Ok, this);
  box.exec();
}

QString CSettingDialog::DefaultChooseIniFile() {
  QFileDialog dlg(this);
  dlg.setFileMode(QFileDialog::ExistingFile);
  dlg.setNameFilter("Init File (*.ini)");
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
  return dlg.selectedFiles().front();
}
