// Wave Window: one bar per electrode of the X and Y axes from the controller's data
// frames, redrawn every 100 ms, with a CSV log of the frames.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>

#include "CCsvLog.h"
#include "CLiveStats.h"
#include "CViewPrompts.h"
#include "CWaveGraph.h"
#include "link/CTransCtrl.h"

class CDrawArea;
class CSettingsRecord;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

class CWndGraphDialog : public QDialog, public ITransListener {
 public:
  static constexpr int kSlot = kSlotWave;
  static constexpr int kTimerMs = 100;

  CWndGraphDialog(CTransCtrl& ctrl, CSettingsRecord& settings, QWidget* parent);
  ~CWndGraphDialog() override;

  // Electrode counts from the settings or the panel; redraws the window.
  void SetCounts(int xCount, int yCount);

  int OnTransCallback(const TransFrame& frame) override;
  void OnTimer();
  void OnPaint();
  void OnBnClickedLogFile();

  // Live statistics: whiskers and mean ticks over the bars and the table below.
  void SetStatistics(bool on);
  bool StatisticsOn() const { return statsOn_; }
  void SetStatisticsScans(int scans);
  void OnStatisticsReset();
  CLiveStats& Live() { return live_; }
  QTableWidget* Table() const { return table_; }
  // Space: the display stops changing; data are still counted and logged.
  void SetFrozen(bool on);
  bool IsFrozen() const;
  QString StatusText() const;
  // Ctrl+S: the window as a PNG picture with a caption line; the table as CSV.
  bool OnSaveImage();
  bool OnSaveTable();
  // "Limits...": a limits file of the self test; electrodes outside its limits are marked
  // in the table. A file that cannot be used is reported and changes nothing.
  bool OnLoadLimits();
  bool LoadLimits(const QString& path);

  bool IsRegistered() const { return registered_; }
  bool IsLogging() const { return logging_; }
  int LogLineNumber() const { return logLine_; }
  int MaxLogLines() const { return maxLogLines_; }
  const std::string& LogPath() const { return log_.Path(); }
  const CWaveGraph& Graph() const { return graph_; }
  CDrawArea* Canvas() const { return canvas_; }

  // Dialogs shown to the user; tests answer them.
  CViewPrompts prompts;
  // Process clock in milliseconds (log times).
  std::function<long long()> clock;

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;
  void reject() override;  // Escape: leaves slot 3 until the next paint
  void accept() override;  // Enter: nothing

 private:
  void BuildControls();
  void Register();
  void RedrawAll(QImage& img);
  void StartWaveLog();
  void StopWaveLog();
  void WriteWaveLogLine(int count, int startX, int startY, int direction, const int32_t* values);
  void OnMaxLinesEdited(const QString& text);
  QPoint FrameOrigin(CWaveGraph::Axis a) const;
  void BuildStatisticsControls();
  void DrawBars(QPainter& p);
  void UpdateTable();
  void UpdateStatus();
  void UpdateLimitsText();
  void FitHeight();
  void MarkStaleBars();
  void ZoomToData();
  // The timer runs while data come and until their bars have turned stale; a change of
  // what the window shows starts it again.
  void Kick();

  CTransCtrl& ctrl_;
  CSettingsRecord& settings_;
  CWaveGraph graph_;
  CDrawArea* canvas_ = nullptr;
  QPushButton* logButton_ = nullptr;
  QLineEdit* pathEdit_ = nullptr;
  QLineEdit* maxLinesEdit_ = nullptr;
  QTimer* timer_ = nullptr;
  CCsvLog log_;
  bool registered_ = false;
  bool logging_ = false;
  int logLine_ = 1;
  int maxLogLines_ = 10;
  long long logStart_ = 0;

  CLiveStats live_;
  bool statsOn_ = false;
  int lastCode_ = -1;  // data code of the last data report
  // When each bar's value came (process clock, ms); older than kStaleMs draws it grey.
  static constexpr int kStaleMs = 1000;
  long long lastDataMs_ = 0;  // when the last bar value came
  std::array<std::array<long long, CWaveGraph::kMaxValues>, 2> updated_{};
  uint64_t tableScans_ = ~0ull;  // scans the table shows
  std::vector<CWaveGraph::Whisker> whiskers_;
  QCheckBox* statsBox_ = nullptr;
  QLineEdit* scansEdit_ = nullptr;
  QLabel* status_ = nullptr;
  QTableWidget* table_ = nullptr;
  QPushButton* limitsButton_ = nullptr;
  QLabel* limitsText_ = nullptr;
};
