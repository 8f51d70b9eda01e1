#include "CSetSerialPortDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/SerialPortMap.h"

namespace {

constexpr int kBaudRates[] = {75,    110,   134,    150,    300,    600,   1200,
                              1800,  2400,  4800,   7200,   9600,   14400, 19200,
                              38400, 57600, 115200, 128000, 230400, 460800};

void SelectValue(QComboBox* list, long long value) {
  int index = list->findData(value);
  list->setCurrentIndex(index < 0 ? 0 : index);
}

long long SelectedValue(const QComboBox* list) {
  return list->currentData().toLongLong();
}

}  // namespace

CSetSerialPortDlg::CSetSerialPortDlg(SerialLineSettings& params, QWidget* parent)
    : QDialog(parent), params_(params) {
  setWindowTitle("Serial Port Setting");
  setModal(true);

  auto* grid = new QGridLayout;
  port_ = AddList(grid, 0, 1024, "Port Number(&N)");
  baud_ = AddList(grid, 1, 1019, "Bit/Sec(&B)");
  dataBits_ = AddList(grid, 2, 1020, "DataBit(&D)");
  parity_ = AddList(grid, 3, 1021, "Parity(&P)");
  stopBits_ = AddList(grid, 4, 1022, "StopBit(&S)");
  // A sixth list of the form that carries no setting.
  auto* unused = new QComboBox(this);
  unused->setObjectName("id1023");
  unused->hide();

  devicePath_ = new QLabel(this);
  devicePath_->setObjectName("idDevicePath");
  grid->addWidget(devicePath_, 5, 0, 1, 2);

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("id1");
  ok->setDefault(true);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("id2");
  connect(ok, &QPushButton::clicked, this, &CSetSerialPortDlg::OnOK);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* top = new QVBoxLayout(this);
  top->addLayout(grid);
  top->addLayout(buttons);
  // Filled now so that the first sizing of the dialog sees the entries.
  SelectCurrentValues();
}

QComboBox* CSetSerialPortDlg::AddList(QGridLayout* grid, int row, int id, const QString& caption) {
  auto* list = new QComboBox(this);
  list->setObjectName(QString("id%1").arg(id));
  list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  auto* label = new QLabel(caption, this);
  label->setBuddy(list);
  grid->addWidget(label, row, 0);
  grid->addWidget(list, row, 1);
  return list;
}

void CSetSerialPortDlg::FillLists() {
  port_->clear();
  for (int n = 1; n <= 20; ++n) {
    // The device each number opens on this machine, so ports can be told apart.
    const QString path = QString::fromStdString(ComDevicePath(n));
    port_->addItem(
        path.isEmpty() ? QString("COM%1").arg(n) : QString("COM%1 (%2)").arg(n).arg(path), n);
  }
  baud_->clear();
  for (int rate : kBaudRates) baud_->addItem(QString::number(rate), rate);
  dataBits_->clear();
  for (int bits = 5; bits <= 8; ++bits) dataBits_->addItem(QString::number(bits), bits);
  parity_->clear();
  parity_->addItem("even number", 2);
  parity_->addItem("odd number", 1);
  parity_->addItem("without", 0);
  parity_->addItem("mark", 3);
  parity_->addItem("space", 4);
  stopBits_->clear();
  stopBits_->addItem("1", 0);
  stopBits_->addItem("1.5", 1);
  stopBits_->addItem("2", 2);

  const bool direct = !params_.devicePath.empty();
  devicePath_->setVisible(direct);
  if (direct) {
    devicePath_->setText(QString("Device: %1 (PortPath, used instead of the port number)")
                             .arg(QString::fromStdString(params_.devicePath)));
  }
}

void CSetSerialPortDlg::SelectCurrentValues() {
  FillLists();
  SelectValue(port_, params_.portNum);
  SelectValue(baud_, params_.baudRate);
  SelectValue(dataBits_, params_.byteSize);
  SelectValue(parity_, params_.parity);
  SelectValue(stopBits_, params_.stopBits);
}

void CSetSerialPortDlg::showEvent(QShowEvent* event) {
  SelectCurrentValues();
  // The entries may have changed since the dialog was sized (device paths, the path line).
  layout()->activate();
  resize(size().expandedTo(sizeHint()));
  QDialog::showEvent(event);
}

void CSetSerialPortDlg::OnOK() {
  params_.portNum = static_cast<int>(SelectedValue(port_));
  params_.baudRate = static_cast<uint32_t>(SelectedValue(baud_));
  params_.byteSize = static_cast<uint8_t>(SelectedValue(dataBits_));
  params_.parity = static_cast<uint8_t>(SelectedValue(parity_));
  params_.stopBits = static_cast<uint8_t>(SelectedValue(stopBits_));
  accept();
}
