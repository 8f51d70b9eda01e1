// "Touch figures" of the XY Window: report rate per contact and, for a held contact, its
// jitter in mm, over the last second, shown over the drawing while the box is ticked.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

#include "analysis/TouchLive.h"

class QCheckBox;
class QLabel;
class QTimer;
class QWidget;

class CTouchFigures : public QObject {
 public:
  static constexpr int kRefreshMs = 250;

  // The check box goes on window, the figures over area.
  CTouchFigures(QWidget* window, QWidget* area);

  QCheckBox* CheckBox() const { return box_; }
  bool IsOn() const;
  void SetOn(bool on);
  // Panel units to mm: the coordinate ranges and the physical size (0: not known).
  void SetPanel(int xRange, int yRange, double widthMm, double heightMm);
  // Every frame the window receives; only coordinate reports are taken, and only while on.
  void OnFrame(int len, const uint8_t* bytes);
  void Refresh();
  QString Text() const;

  // Microseconds of a steady clock; tests set their own.
  std::function<int64_t()> clock;

 private:
  QCheckBox* box_ = nullptr;
  QLabel* label_ = nullptr;
  QTimer* timer_ = nullptr;
  analysis::LiveTouchFigures figures_;
  bool hasMm_ = false;
};
