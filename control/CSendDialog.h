// Firmware Control Window: single firmware commands and their acknowledgements.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <functional>

#include "control/CSettingsRecord.h"
#include "link/CTransCtrl.h"

class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QVBoxLayout;
class QPushButton;

class CSendDialog : public QDialog, public ITransListener {
  Q_OBJECT

 public:
  static constexpr uint16_t kListenerSlot = kSlotReplies;

  // Shows a message box with an OK button; tests replace it.
  using MessageFn = std::function<void(QWidget* parent, const QString& text)>;

  CSendDialog(CTransCtrl& ctrl, CSettingsRecord& settings, QWidget* parent);
  ~CSendDialog() override;

  int OnTransCallback(const TransFrame& frame) override;

  void SetMessageHook(MessageFn fn) { message_ = std::move(fn); }

  // Command handlers, one per button.
  void OnBnClickedStreamButton(int id);
  void OnBnClickedStopData();
  void OnBnClickedReportTarget();
  void OnBnClickedReportPermission();
  void OnBnClickedCalibrate();
  void OnBnClickedM0Freq();
  void OnBnClickedM1Freq();
  void OnBnClickedSamplingRate();

  QString StatusText() const;
  // The main window's link status: a disconnect ends a calibration's wait.
  void OnLinkStatusChanged(bool connected);
  int M1DisplayFlag() const { return m1Display_; }
  int M0Freq() const { return m0Freq_; }
  int M1Freq() const { return m1Freq_; }
  int SamplingRate() const { return samplingRate_; }

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void reject() override {}
  void accept() override {}

 private:
  struct StreamButton {
    int id;
    const char* caption;
    const char* command;
    const char* label;
    bool m1;
  };
  static const StreamButton kStreams[10];

  void BuildControls();
  // The frequency and sampling-rate edits with their buttons.
  QGridLayout* BuildValueRows();
  // The data stream buttons, into top.
  void BuildStreamButtons(QVBoxLayout* top);
  QPushButton* MakeButton(int id, const char* caption);
  QLineEdit* MakeValueEdit(int id);
  QPushButton* Button(int id) const;

  int Send(const QString& cmd);
  void SetStatus(const QString& text);
  void WriteSendStatus(const QString& label, int result);
  void RefillEdits();
  void TakeEdits();
  void OnFrequency(bool m1);
  void SetCalibrationControlsEnabled(bool on);
  void SetM1ButtonsEnabled(bool on);
  void HandleControlReply(uint8_t sub, bool ok);
  void HandleStreamReply(uint8_t sub, bool ok);
  void ShowMessage(const QString& text);

  CTransCtrl& ctrl_;
  CSettingsRecord& settings_;
  MessageFn message_;
  int m1Display_ = 0;
  int m0Freq_ = 250;
  int m1Freq_ = 100;
  int samplingRate_ = 10;

  QLineEdit* version_ = nullptr;
  QLabel* device_ = nullptr;  // the controller in use
  QPlainTextEdit* status_ = nullptr;
  QPushButton* permission_ = nullptr;
  QPushButton* target_ = nullptr;
  QLineEdit* m0Edit_ = nullptr;
  QLineEdit* m1Edit_ = nullptr;
  QLineEdit* rateEdit_ = nullptr;
  bool queued_ = false;       // the last Send was queued for a busy link
  // Control sub-commands this window sent and waits for: the link's own opening commands
  // get the same replies, which are not this window's to report.
  std::array<bool, 256> asked_{};
  // The stream the controller acknowledged last (null after Stop data), whatever the
  // status line says since; and the one that ran when the controller went away, started
  // again on its return.
  const StreamButton* running_ = nullptr;
  const StreamButton* resume_ = nullptr;
  bool calibrating_ = false;  // waiting for the calibration's acknowledgement
};
