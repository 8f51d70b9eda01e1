// XY Window: touch traces per finger on the electrode grid, report rate, CSV log of the
// coordinates, cell marking, and the switch to the full-screen view.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>

#include "CCsvLog.h"
#include "CPointStore.h"
#include "CViewPrompts.h"
#include "CXYCoordDraw.h"
#include "CXYFrameHandler.h"
#include "link/CTransCtrl.h"

class CDrawArea;
class CTouchFigures;
class CSettingsRecord;
class CWndXYFullDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

class CWndXYDialog : public QDialog, public ITransListener {
 public:
  static constexpr int kSlot = kSlotXY;
  static constexpr int kRateTimerMs = 1000;
  static constexpr int kCounters = 10;

  CWndXYDialog(CTransCtrl& ctrl, CSettingsRecord& settings, CXYCoordDraw& draw, CPointStore& store,
               QWidget* parent);
  ~CWndXYDialog() override;

  // Electrode counts from the settings or the panel; redraws the window.
  void SetCounts(int xCount, int yCount);
  bool IsFullScreenVisible() const;
  CWndXYFullDialog* FullScreen() const { return full_; }
  // Ends the full-screen view.
  void OnBnClickedBack();

  int OnTransCallback(const TransFrame& frame) override;
  void OnTimer();
  void OnPaint();  // prepares, draws the grid and replays the store now
  void OnBnClickedClear();
  // The controller went away: every finger's stroke ends.
  void EndStrokes() { handler_.EndStrokes(); }
  void OnBnClickedExpand();
  void OnBnClickedLogFile();
  // Ctrl+S: the window as a PNG picture with a caption line.
  bool OnSaveImage();
  void OnDoubleClick(QPoint windowPos, Qt::MouseButtons buttons, Qt::KeyboardModifiers mods);

  bool IsRegistered() const { return registered_; }
  bool IsLogging() const { return logging_; }
  const std::string& LogPath() const { return log_.Path(); }
  int ReportCounter(int i) const { return counters_[i]; }
  QString RateText(int i) const;
  CDrawArea* DrawArea() const { return area_; }
  CTouchFigures* Figures() const { return figures_; }

  // Dialogs shown to the user; tests answer them.
  CViewPrompts prompts;
  // Process clock in milliseconds (log times).
  std::function<long long()> clock;

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void reject() override {}
  void accept() override {}

 private:
  void BuildControls();
  void LayoutControls(int width, int height);
  void PrepareDrawing(QImage& img);
  void Redraw(QImage& img);
  void StartXYLog();
  void StopXYLog();
  void WriteXYLogLine(const TouchPoint& pt, bool serial);

  CTransCtrl& ctrl_;
  CSettingsRecord& settings_;
  CXYCoordDraw& draw_;
  CPointStore& store_;
  CXYFrameHandler handler_;
  CWndXYFullDialog* full_ = nullptr;
  CDrawArea* area_ = nullptr;
  QGroupBox* frameGroup_ = nullptr;
  QGroupBox* rateGroup_ = nullptr;
  QPushButton* clearButton_ = nullptr;
  QPushButton* expandButton_ = nullptr;
  QPushButton* logButton_ = nullptr;
  QLineEdit* pathEdit_ = nullptr;
  std::array<QLabel*, kCounters> rateLabels_{};
  std::array<QLineEdit*, kCounters> rateEdits_{};
  std::array<QLabel*, kCounters> hzLabels_{};
  QTimer* timer_ = nullptr;
  CTouchFigures* figures_ = nullptr;
  std::array<int, kCounters> counters_{};
  CCsvLog log_;
  bool registered_ = false;
  bool logging_ = false;
  long long logStart_ = 0;
};
