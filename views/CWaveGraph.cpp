#include "CWaveGraph.h"

#include <QFont>
#include <QPainter>
#include <algorithm>
#include <cstdlib>

CWaveGraph::CWaveGraph() {
  ResetValues();
}

void CWaveGraph::SetCounts(int xCount, int yCount) {
  count_[kAxisX] = std::clamp(xCount, 0, kMaxValues);
  count_[kAxisY] = std::clamp(yCount, 0, kMaxValues);
}

void CWaveGraph::SetFrameSize(int width, int height) {
  width_ = width;
  height_ = height;
}

void CWaveGraph::ResetValues() {
  for (auto& axis : values_) axis.fill(kZero);
}

int CWaveGraph::BarWidth() const {
  const int n = std::max(count_[kAxisX], count_[kAxisY]);
  if (n == 0) return 0;
  return width_ / n - 1;
}

int CWaveGraph::BarLength(int value) const {
  const int v = std::clamp(value - kZero, -255, 255);
  return ((height_ / 2 - 4) * v) / 255;
}

std::array<std::string, 4> CWaveGraph::LabelRows(int value) {
  const int v = std::clamp(value - kZero, -255, 255);
  const int a = std::abs(v);
  std::array<std::string, 4> rows;
  rows[0] = v < 0 ? "-" : " ";
  rows[1] = a < 100 ? " " : std::string(1, static_cast<char>('0' + a / 100));
  if (a < 10) {
    rows[2] = " ";
  } else {
    rows[2] = std::string(1, static_cast<char>('0' + (a / 10) % 10));
  }
  rows[3] = std::string(1, static_cast<char>('0' + a % 10));
  return rows;
}

int CWaveGraph::Store(Axis a, int start, const int32_t* values, int count) {
  if (values == nullptr || start < 0) return 0;
  int stored = 0;
  for (int k = 0; k < count && start + k < kMaxValues; ++k) {
    values_[a][start + k] = values[k];
    ++stored;
  }
  return stored;
}

void CWaveGraph::DrawWaveFrame(QPainter& p, Axis a) {
  const int w = BarWidth();
  const int c = height_ / 2;
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(background_);
  p.drawRect(0, 0, width_ - 1, height_ - 1);
  p.setBrush(Qt::NoBrush);
  if (a == kAxisX) p.fillRect(-5, height_ + kIndexOffset, width_, kIndexHeight, face_);
  if (w <= 0) return;
  QFont font("Arial");
  font.setPointSize(8);
  p.setFont(font);
  p.setBackgroundMode(Qt::TransparentMode);
  for (int i = 0; i < count_[a]; ++i) {
    const int x = BarLeft(i);
    p.fillRect(x, c - 2, w, 2, BarColour(a));
    if (a == kAxisX && i % 5 == 0) {
      p.setPen(Qt::black);
      p.drawText(QRect(x + 1 + (w - 16) / 2, height_ + kIndexOffset, 40, kIndexHeight),
                 Qt::AlignLeft | Qt::AlignTop, QString::asprintf("%02d", i));
    }
  }
}

void CWaveGraph::DrawWaveBars(QPainter& p, Axis a) {
  const int w = BarWidth();
  if (w <= 0) return;
  const int c = height_ / 2;
  const int count = count_[a];
  const int labelTop = LabelTop(a);
  QFont font("Arial");
  font.setPointSize(8);
  p.setFont(font);
  p.setBackgroundMode(Qt::TransparentMode);
  if (count != lastLabelCount_[a]) {
    p.fillRect(BarLeft(0), labelTop, width_, kLabelHeight, face_);
    lastLabelCount_[a] = count;
  }
  for (int i = 0; i < count; ++i) {
    const int value = values_[a][i];
    const int b = BarLength(value);
    const int x = BarLeft(i);
    p.fillRect(x, labelTop, w, kLabelHeight, Qt::white);
    p.setPen(Qt::black);
    const auto rows = LabelRows(value);
    const int tx = x + 1 + (w - 8) / 2;
    for (int r = 0; r < 4; ++r) {
      p.drawText(QRect(tx, labelTop + r * 13, 16, 13), Qt::AlignLeft | Qt::AlignTop,
                 QString::fromLatin1(rows[r].c_str()));
    }
    // Clear the column except the zero line, then fill the bar.
    if (c - 2 >= 1) p.fillRect(x, 1, w, c - 2, background_);
    // Row c belongs to the downward bar; clear it too so no stale row remains.
    if (2 * c - 3 >= c) p.fillRect(x, c, w, c - 2, background_);
    if (b > 0) p.fillRect(x, c - b, w, b, BarColour(a));
    if (b < 0) p.fillRect(x, c, w, -b, BarColour(a));
  }
}
