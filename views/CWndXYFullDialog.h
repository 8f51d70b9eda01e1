// The full-screen XY view: a full-screen window on the primary monitor with the grid, the
// traces of the shared point store and the value map of data frames (with values).
#pragma once

#include <QDialog>
#include <QRect>
#include <cstdint>

#include "CLiveStats.h"
#include "CPointStore.h"
#include "CViewPrompts.h"
#include "CXYCoordDraw.h"
#include "CXYFrameHandler.h"
#include "link/CTransCtrl.h"

class CAccuracyMode;
class CDrawArea;
class CSettingsRecord;
class QLabel;
class QTimer;

class CWndXYFullDialog : public QDialog, public ITransListener {
 public:
  static constexpr int kSlot = kSlotXYStandIn;
  static constexpr int kHintMs = 3000;      // how long "Esc: back" shows
  static constexpr int kModeHintMs = 4000;  // how long the map's hint shows after a change
  // Slot of the statistics feed: every data report, of the streams the XY views draw and
  // of the others (M0), while the window is registered.
  static constexpr int kStatsSlot = kSlotViews;

  // parent is the XY Window, shown again by Back.
  CWndXYFullDialog(CTransCtrl& ctrl, CSettingsRecord& settings, CXYCoordDraw& draw,
                   CPointStore& store, QWidget* parent);
  ~CWndXYFullDialog() override;

  void SetCounts(int xCount, int yCount);
  // Shows the window full screen on its monitor.
  void ShowFullScreen();
  // Returns to the XY Window.
  void OnBnClickedBack();

  int OnTransCallback(const TransFrame& frame) override;
  void OnPaint();  // prepares, draws the grid and replays the store now
  void OnDoubleClick(QPoint pos, Qt::MouseButtons buttons);
  // The monitor changed: cover it again and redraw.
  void OnSettingChange();

  // Map modes: V value, N noise, P peak-to-peak, D difference from the baseline; B takes
  // the baseline, Ctrl+B saves it, Ctrl+L loads it; Space freezes; Ctrl+S saves a picture.
  void SetMode(MapMode mode);
  MapMode Mode() const { return mode_; }
  bool TakeBaseline();
  bool SaveBaseline();
  bool LoadBaseline();
  void SetFrozen(bool on);
  bool IsFrozen() const;
  bool OnSaveImage();
  // Draws the figures of the current mode now (a timer does it while data come).
  void DrawModeMap();
  CLiveStats& Live() { return live_; }
  QString HintText() const;
  bool HintShown() const;
  // H or F1: shows the map's hint, or hides it when it shows.
  void ToggleHint();

  // Dialogs shown to the user; tests answer them.
  CViewPrompts prompts;

  bool IsRegistered() const { return registered_; }
  QRect MonitorRect() const { return monitor_; }
  CDrawArea* DrawArea() const { return area_; }
  // A: the accuracy mode (targets to tap, each error in mm); R starts it again.
  CAccuracyMode* Accuracy() const { return accuracy_; }
  void SetAccuracyMode(bool on);

 protected:
  void showEvent(QShowEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;  // a close request: Back
  void reject() override;                    // Escape: Back
  void accept() override;                    // Enter: hides, stays registered
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void PrepareDrawing(QImage* img);
  void Redraw(QImage& img);
  void Register();
  void UpdateModeHint();
  void ShowModeHint();
  void PlaceModeHint();
  void Unregister();
  void AddRecord(const DataRecord& rec);
  // V: the statistics' last scan is drawn for streams the XY views are not sent.
  bool ValuesFromScans() const { return lastCode_ >= 0 && lastCode_ != routedCode_; }

  // Feeds the statistics from slot kStatsSlot.
  struct StatsFeed : ITransListener {
    CWndXYFullDialog* owner = nullptr;
    int OnTransCallback(const TransFrame& frame) override;
  };
  StatsFeed feed_;

  CTransCtrl& ctrl_;
  CSettingsRecord& settings_;
  CXYCoordDraw& draw_;
  CXYFrameHandler handler_;
  CDrawArea* area_ = nullptr;
  QLabel* hint_ = nullptr;
  CAccuracyMode* accuracy_ = nullptr;
  QTimer* hintTimer_ = nullptr;
  QLabel* modeHint_ = nullptr;
  QTimer* modeTimer_ = nullptr;
  QTimer* modeHintTimer_ = nullptr;
  CLiveStats live_;
  MapMode mode_ = MapMode::kValue;
  uint64_t drawnScans_ = 0;  // scans the drawn figures cover
  int lastCode_ = -1;
  int routedCode_ = -1;  // data code of the last report the XY views were sent
  QString notice_;  // a short word after the mode in the hint
  bool keysShown_ = false;  // the hint lists the keys (H or F1), not just the map
  QRect monitor_;
  bool registered_ = false;
};
