// The one drawing object of the XY views: grid of electrode cells, touch traces,
// value map of data frames and the cell marker. Draws on the painter it is handed.
#pragma once

#include <QColor>
#include <QPen>
#include <QRect>
#include <QString>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "CLabelCache.h"

class QPainter;

class CXYCoordDraw {
 public:
  static constexpr int kMaxCells = 255;
  static constexpr int kFingers = 10;

  CXYCoordDraw();

  // Settings the application and the windows hand in.
  void SetResolution(int resolution) { resolution_ = resolution; }
  int Resolution() const { return resolution_; }
  void SetRanges(int xRange, int yRange);
  int XRange() const { return xRange_; }
  int YRange() const { return yRange_; }
  void SetRecomputeGrid() { recompute_ = true; }
  bool RecomputePending() const { return recompute_; }
  void SetSuspended(bool on) { suspended_ = on; }
  bool IsSuspended() const { return suspended_; }
  void SetSkipNextReport(bool on) { skipNext_ = on; }
  bool SkipNextReport() const { return skipNext_; }
  void SetLineMode(bool on) { lineMode_ = on; }
  void SetShowValues(bool on) { showValues_ = on; }
  bool ShowValues() const { return showValues_; }

  // Size of the drawing area and cell counts (counts above 255 are taken as 255).
  void SetSize(int width, int height);
  void SetCounts(int xCount, int yCount);
  int Width() const { return width_; }
  int Height() const { return height_; }
  int XCount() const { return xCount_; }
  int YCount() const { return yCount_; }
  QRect GridRect() const { return QRect(QPoint(left_, top_), QPoint(right_ - 1, bottom_ - 1)); }
  int Column(int i) const { return columns_[i]; }
  int Row(int j) const { return rows_[j]; }

  void CreatePens();
  void DrawGrid(QPainter& p);

  // Raw coordinates to pixels; false when the panel scale lacks its geometry.
  void MapFixed(int x, int y, int& px, int& py) const;
  bool MapScaled(int x, int y, int& px, int& py) const;

  // Draw one point (state 1 touching, 2 lifted, 0 no touch); p may be null.
  // Return 0 when the point is refused, 1 otherwise.
  int PlotPoint(int x, int y, int finger, int state, QPainter* p);
  int PlotPointScaled(int x, int y, int finger, int state, QPainter* p);

  // Colours the cells of one data frame from its start cell (direction 1 along X,
  // 0 along Y). Prints the values when show values is on and printValues is set.
  void DrawValueMap(int startX, int startY, int direction, const int32_t* values, int count,
                    QPainter& p, bool printValues);
  // The same in two steps: the values are kept, and the cells they changed are drawn
  // later, once, in the order they first changed (a fast stream costs a copy per frame).
  void QueueValueMap(int startX, int startY, int direction, const int32_t* values, int count,
                     bool printValues);
  bool HasQueuedValues() const { return !queued_.empty(); }
  void DrawQueuedValues(QPainter& p);
  static QColor ValueColour(int v);

  // The colour the drawing areas are cleared to; the marker is erased to it.
  static QColor Background() { return QColor(255, 255, 255); }

  // Labels the cell under (x, y); fromXYWindow moves the point 3 pixels left and up.
  void MarkCell(QPainter& p, int x, int y, bool fromXYWindow);
  // Column and row index of a pixel; false when it lies outside the grid.
  bool CellAt(int x, int y, int& col, int& row) const;
  static QString CellLabel(int col, int row);
  QPoint MarkerPosition() const { return marker_; }
  QRect MarkerLabelBox() const { return LabelBoxAt(marker_); }

  struct FingerState {
    int x = 0;
    int y = 0;
    int state = 0;
  };
  const FingerState& LastPoint(int finger) const { return last_[finger]; }
  static QColor FingerColour(int finger);

 private:
  int DrawPoint(int px, int py, int finger, int state, QPainter* p);
  QRect LabelBoxAt(QPoint pt) const;

  int width_ = 0;
  int height_ = 0;
  int xCount_ = 0;
  int yCount_ = 0;
  int resolution_ = 256;
  int xRange_ = 0;
  int yRange_ = 0;
  float cellW_ = 0;
  float cellH_ = 0;
  int left_ = 0;
  int top_ = 0;
  int right_ = 0;
  int bottom_ = 0;
  std::array<int, kMaxCells + 1> columns_{};
  std::array<int, kMaxCells + 1> rows_{};
  bool recompute_ = true;
  bool suspended_ = false;
  bool skipNext_ = false;
  bool lineMode_ = true;
  bool showValues_ = true;
  std::array<FingerState, kFingers> last_{};
  QPoint marker_{0, 0};
  QPen erasePen_;
  std::array<QPen, kFingers> fingerPens_;
  QPen gridPen_;
  QPen axisPen_;
  CLabelCache valueLabels_;  // value map numbers, per font size
  // Values waiting to be drawn: cell value (v = value - 1000) and the cells in order.
  std::vector<int32_t> cellValue_;
  std::vector<uint8_t> cellQueued_;
  std::vector<std::pair<uint8_t, uint8_t>> queued_;
  bool queuedText_ = false;
};
