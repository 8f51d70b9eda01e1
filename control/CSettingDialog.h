// "Settings Window": shows and edits the program's settings record in place.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <functional>

#include "CSettingsRecord.h"

class CTransCtrl;
class IAppServices;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class CSetSerialPortDlg;

class CSettingDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kCaption = "VantrelTool Test Program";

  CSettingDialog(CSettingsRecord& record, CTransCtrl& ctrl, IAppServices& app,
                 QWidget* parent = nullptr);
  ~CSettingDialog() override;

  CSettingsRecord& Record() { return record_; }

  // The panel information of the controller: the three number fields take it.
  void SetPanelFields(int xCount, int yCount, int resolution);
  // Reopens the link with the record's link kind and reports the outcome.
  void ApplySettings();
  // Gives X count, Y count and resolution to the open data views.
  void PushViewSettings();

  // Takes the control values into the record; false when one was refused.
  bool TakeControlValues();
  // Shows the record in the controls.
  void ShowRecord();

  // Hooks, replaceable by tests. Message boxes carry kCaption and an OK button.
  std::function<void(const QString& text, QMessageBox::Icon icon)> showMessage;
  // Returns the chosen file, or an empty text when the user cancelled.
  std::function<QString()> chooseIniFile;

 protected:
  void showEvent(QShowEvent* event) override;

 public slots:
  void reject() override;

 private slots:
  void OnOK();
  void OnSave();
  void OnIniFileLoad();
  void OnUsb();
  void OnCom();
  void OnProperty();
  void OnPort();
  void OnNumberEdited();

 private:
  void BuildControls();
  bool RefuseWhileReceiving();
  void RunPortDialog(CSetSerialPortDlg& dlg, int& portNum);
  // Reads edit as an integer in [lo, hi]; shows the message and focuses it if not.
  bool TakeInt(QLineEdit* edit, int lo, int hi, int& out);
  void ShowDefaultMessage(const QString& text, QMessageBox::Icon icon);
  QString DefaultChooseIniFile();

  CSettingsRecord& record_;
  CTransCtrl& ctrl_;
  IAppServices& app_;
  CSetSerialPortDlg* comPortDlg_ = nullptr;
  CSetSerialPortDlg* barcodePortDlg_ = nullptr;
  bool showing_ = false;  // controls are being filled from the record

  QRadioButton* usb_ = nullptr;
  QRadioButton* com_ = nullptr;
  QPushButton* property_ = nullptr;
  QLabel* comPortNum_ = nullptr;
  QLabel* barcodePortNum_ = nullptr;
  QLabel* settingsFile_ = nullptr;  // the file Save writes
  QLineEdit* xCount_ = nullptr;
  QLineEdit* yCount_ = nullptr;
  QLineEdit* resolution_ = nullptr;
  QLineEdit* fingerCount_ = nullptr;
  QCheckBox* zValue_ = nullptr;
};
