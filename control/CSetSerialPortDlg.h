// "Serial Port Setting": edits one set of serial line parameters.
#pragma once

#include <QDialog>

#include "link/TransTypes.h"

class QComboBox;
class QGridLayout;
class QLabel;

class CSetSerialPortDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CSetSerialPortDlg(SerialLineSettings& params, QWidget* parent = nullptr);

  SerialLineSettings& Params() { return params_; }

  // Selects in each list the entry of the current value, or the first entry.
  void SelectCurrentValues();

 protected:
  void showEvent(QShowEvent* event) override;

 private slots:
  void OnOK();

 private:
  QComboBox* AddList(QGridLayout* grid, int row, int id, const QString& caption);
  void FillLists();

  SerialLineSettings& params_;
  QComboBox* port_ = nullptr;
  QComboBox* baud_ = nullptr;
  QComboBox* dataBits_ = nullptr;
  QComboBox* parity_ = nullptr;
  QComboBox* stopBits_ = nullptr;
  QLabel* devicePath_ = nullptr;
};
