// Accuracy mode of the full-screen XY view: a grid of targets on the panel, a tap on
// each in turn, and each tap's error in mm with its verdict.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "analysis/TouchLive.h"

class CAccuracyMode : public QWidget {
 public:
  // toScreen maps panel units to the window's pixels; false when it cannot.
  using MapFn = std::function<bool(double x, double y, QPoint& px)>;

  CAccuracyMode(QWidget* parent, MapFn toScreen);

  bool IsOn() const { return on_; }
  void SetOn(bool on);
  // The panel: coordinate ranges and physical size (0: not known); restarts the targets.
  void SetPanel(int xRange, int yRange, double widthMm, double heightMm, int columns = 3,
                int rows = 3);
  void Restart();
  // Every frame the view receives; taps are taken from coordinate reports while on.
  void OnFrame(int len, const uint8_t* bytes);
  const analysis::TargetGrid* Grid() const { return grid_.get(); }
  QString StatusText() const;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  MapFn toScreen_;
  analysis::TouchGeometry geometry_;
  std::unique_ptr<analysis::TargetGrid> grid_;
  bool on_ = false;
};
