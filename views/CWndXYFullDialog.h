// The full-screen XY view: a full-screen window on the primary monitor with the grid, the
// traces of the shared point store and the value map of data frames (with values).
#pragma once

#include <QDialog>
#include <QRect>
#include <cstdint>

#include "CPointStore.h"
#include "CXYCoordDraw.h"
#include "CXYFrameHandler.h"
#include "link/CTransCtrl.h"

class CDrawArea;
class CSettingsRecord;
class QLabel;
class QTimer;

class CWndXYFullDialog : public QDialog, public ITransListener {
 public:
  static constexpr int kSlot = 2;
  static constexpr int kHintMs = 3000;  // how long "Esc: back" shows

  // parent is the XY Window, shown again by Back.
  CWndXYFullDialog(CTransCtrl& ctrl, CSettingsRecord& settings, CXYCoordDraw& draw,
                   CPointStore& store, QWidget* parent);
  ~CWndXYFullDialog() override;

  void SetCounts(int xCount, int yCount);
  // Shows the window full screen on its monitor.
  void ShowFullScreen();
  // Returns to the XY Window.
  void OnBnClickedBack();

  int OnTransCallback(int len, const uint8_t* bytes) override;
  void OnPaint();  // prepares, draws the grid and replays the store now
  void OnDoubleClick(QPoint pos, Qt::MouseButtons buttons);
  // The monitor changed: cover it again and redraw.
  void OnSettingChange();

  bool IsRegistered() const { return registered_; }
  QRect MonitorRect() const { return monitor_; }
  CDrawArea* DrawArea() const { return area_; }

 protected:
  void showEvent(QShowEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;  // a close request: Back
  void reject() override;                    // Escape: Back
  void accept() override;                    // Enter: hides, stays registered

 private:
  void PrepareDrawing(QImage* img);
  void Redraw(QImage& img);
  void Register();

  CTransCtrl& ctrl_;
  CSettingsRecord& settings_;
  CXYCoordDraw& draw_;
  CXYFrameHandler handler_;
  CDrawArea* area_ = nullptr;
  QLabel* hint_ = nullptr;
  QTimer* hintTimer_ = nullptr;
  QRect monitor_;
  bool registered_ = false;
};
