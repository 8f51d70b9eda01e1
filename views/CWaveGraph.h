// State and drawing of the Wave Window's two bar graphs. Coordinates are relative to
// the top-left corner of each graph frame; labels lie outside the frame (below the X
// graph, above the Y graph), so the painter must reach that far.
#pragma once

#include <QColor>
#include <QFont>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "CLabelCache.h"

class QPainter;

class CWaveGraph {
 public:
  static constexpr int kMaxValues = 255;
  static constexpr int kZero = 1000;
  static constexpr int kLabelHeight = 64;  // value label box
  static constexpr int kIndexOffset = 72;  // index labels at H + 72 below the X graph
  static constexpr int kIndexHeight = 20;

  enum Axis { kAxisX = 0, kAxisY = 1 };

  CWaveGraph();

  // Counts above 255 are taken as 255, negative ones as 0.
  void SetCounts(int xCount, int yCount);
  int Count(Axis a) const { return count_[a]; }
  // Size (W, H) of one graph frame; both frames share it.
  void SetFrameSize(int width, int height);
  int FrameWidth() const { return width_; }
  int FrameHeight() const { return height_; }
  void SetFaceColour(const QColor& c) { face_ = c; }

  // Bar width w = (W - 2) / max(X count, Y count) - 1, so that bars starting at x = 2
  // end inside the outline (column W - 1); 0 when both counts are 0.
  int BarWidth() const;
  int BarLeft(int i) const { return 2 + i * (BarWidth() + 1); }
  int ZeroLine() const { return height_ / 2; }
  // Bar length b for a value (1000 = zero): positive upward. Zoomed, the middle line
  // stands for centre and the frame's half height for half counts.
  int BarLength(int value) const;
  void SetZoom(bool on, double centre = kZero, double half = 255);
  bool Zoomed() const { return zoom_; }
  // Bars whose values were not updated lately are drawn grey.
  void SetStale(Axis a, int index, bool stale);
  static QColor StaleColour() { return QColor(170, 170, 170); }
  // The four rows of a value label: sign, hundreds, tens, units.
  static std::array<std::string, 4> LabelRows(int value);
  // Zoomed (statistics), labels say what the scale says: the value's counts from zero,
  // unclamped, the sign row then the digits (at least four rows).
  static std::vector<std::string> ExactLabelRows(int value);

  // Stores count values from a frame at index start; values past the arrays are dropped.
  // Returns the number stored.
  int Store(Axis a, int start, const int32_t* values, int count);
  const std::array<int32_t, kMaxValues>& Values(Axis a) const { return values_[a]; }
  void ResetValues();

  // Outlined frame, zero line segments and, for the X graph, the index labels.
  void DrawWaveFrame(QPainter& p, Axis a);
  // Bars and value labels of one axis from its stored values.
  void DrawWaveBars(QPainter& p, Axis a);
  QColor BarColour(Axis a) const { return a == kAxisX ? QColor(0, 0, 255) : QColor(255, 0, 0); }

  // Statistics of one electrode over recent scans, drawn over its bar.
  struct Whisker {
    int32_t min = kZero;
    int32_t max = kZero;
    double mean = kZero;
  };
  // Over the bars just drawn: a min-max whisker (a vertical line at the bar's middle with
  // caps across the bar) and a mean tick across the bar, for count electrodes of axis a.
  void DrawWhiskers(QPainter& p, Axis a, const Whisker* whiskers, int count);
  // The row a value's bar ends at (the zero line for 1000).
  int ValueRow(double value) const;
  // Zoomed: the counts of the top, middle and bottom rows at the frame's left edge, drawn
  // over bars and whiskers.
  void DrawScale(QPainter& p);
  static QColor WhiskerColour() { return QColor(0, 0, 0); }
  static QColor MeanColour() { return QColor(0, 170, 0); }

 private:
  // Value labels directly below the X graph and above the Y graph.
  int LabelTop(Axis a) const { return a == kAxisX ? height_ : -kLabelHeight; }
  static void LabelChars(int value, char (&rows)[4]);
  // Zoomed: the bar runs from the value's zero to the value (from the frame's edge when
  // zero lies outside the scale).
  void DrawZoomedBar(QPainter& p, int x, int value, const QColor& fill, const QColor& line);
  bool ZeroShown() const { return zoom_ && std::abs(centre_ - kZero) <= half_; }
  // The four rows of a value label, each clipped to its row box as drawText clips.
  const CLabelCache::Label& ValueLabel(int value);

  QFont font_;
  CLabelCache labels_;

  std::array<int, 2> count_{0, 0};
  std::array<std::array<int32_t, kMaxValues>, 2> values_{};
  std::array<int, 2> lastLabelCount_{-1, -1};
  int width_ = 0;
  int height_ = 0;
  QColor background_{255, 255, 255};
  bool zoom_ = false;
  double centre_ = kZero;
  double half_ = 255;
  std::array<std::array<bool, kMaxValues>, 2> stale_{};
  QColor face_{240, 240, 240};
};
