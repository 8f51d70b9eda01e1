// Lumora's one window: a button that starts the controller's calibration and a line
// that shows the firmware version.
#pragma once

#include <QDeadlineTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;
class TKorvikObj;
class TKorvikTouchPanel;
class TKorvikTouchPanelControl;
class TKorvikUsbMessage;

class TformCalibration : public QWidget {
 public:
  using ControlFactory = std::function<std::unique_ptr<TKorvikTouchPanelControl>()>;

  // Button states.
  static constexpr uint8_t StateNotReady = 0;
  static constexpr uint8_t StateCalibrate = 1;
  static constexpr uint8_t StateCalibrating = 2;
  // How long a close waits for the hand-back to go out.
  static constexpr int CloseWaitMs = 2000;

  // Without a factory the control opens the USB library for real.
  explicit TformCalibration(ControlFactory factory = {}, QWidget* parent = nullptr);
  ~TformCalibration() override;

  // "Not Ready", "Calibrate", "Calibrating"; the button is enabled only in StateCalibrate.
  void SetCalibrateState(uint8_t state);
  uint8_t CalibrateState() const { return FCalibrateState; }

  // Creates the control at the first activation only.
  void FormActivate();
  TKorvikTouchPanelControl* Control() const { return FControl.get(); }

  void DoTouchPanelMessage(TKorvikUsbMessage* message);
  void DoTouchPanelAdded(TKorvikTouchPanel* panel);
  void DoTouchPanelRemoved(TKorvikTouchPanel* panel);
  void DoTransactionsChanged(TKorvikObj* sender);
  void btnCalibrateClick();
  void timerCloseTimer();

 protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void FormCreate();
  bool FormCloseQuery();
  void FormClose();
  void QueueHandBack();
  bool HandBackSent() const;
  void CalibrationEnded(bool success);

  QPushButton* btnCalibrate = nullptr;
  QLabel* labTPInfo = nullptr;
  QTimer* timerClose = nullptr;
  uint8_t FCalibrateState = 0;
  bool FClosing = false;
  QDeadlineTimer FCloseDeadline;
  ControlFactory FFactory;
  std::unique_ptr<TKorvikTouchPanelControl> FControl;
};
