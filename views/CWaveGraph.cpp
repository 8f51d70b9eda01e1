#include "CWaveGraph.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kRowStep = 13;     // value label rows
constexpr int kRowBoxW = 16;     // box of one label row
constexpr int kIndexW = 40;      // box of an index label
constexpr int kIndexKey = 1000;  // index labels' keys; value labels use -255 ... 255

}  // namespace

CWaveGraph::CWaveGraph() : font_("Arial") {
  font_.setPointSize(8);
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
  return std::max((width_ - 2) / n - 1, 0);
}

int CWaveGraph::BarLength(int value) const {
  if (zoom_) {
    const double v = std::clamp(value - centre_, -half_, half_);
    return static_cast<int>(std::lround((height_ / 2 - 4) * v / half_));
  }
  const int v = std::clamp(value - kZero, -255, 255);
  return ((height_ / 2 - 4) * v) / 255;
}

void CWaveGraph::SetZoom(bool on, double centre, double half) {
  zoom_ = on && half > 0;
  centre_ = centre;
  half_ = half > 0 ? half : 255;
}

void CWaveGraph::SetStale(Axis a, int index, bool stale) {
  if (index >= 0 && index < kMaxValues) stale_[a][index] = stale;
}

void CWaveGraph::LabelChars(int value, char (&rows)[4]) {
  const int v = std::clamp(value - kZero, -255, 255);
  const int a = std::abs(v);
  rows[0] = v < 0 ? '-' : ' ';
  rows[1] = a < 100 ? ' ' : static_cast<char>('0' + a / 100);
  rows[2] = a < 10 ? ' ' : static_cast<char>('0' + (a / 10) % 10);
  rows[3] = static_cast<char>('0' + a % 10);
}

std::array<std::string, 4> CWaveGraph::LabelRows(int value) {
  char c[4];
  LabelChars(value, c);
  return {std::string(1, c[0]), std::string(1, c[1]), std::string(1, c[2]), std::string(1, c[3])};
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
  p.setFont(font_);
  p.setBackgroundMode(Qt::TransparentMode);
  labels_.Use(p);
  const QColor bar = BarColour(a);
  for (int i = 0; i < count_[a]; ++i) {
    const int x = BarLeft(i);
    p.fillRect(x, c - 2, w, 2, bar);
    if (a == kAxisX && i % 5 == 0) {
      const CLabelCache::Label& index =
          labels_.Get(kIndexKey + i, QSize(kIndexW, kIndexHeight), [i](QPainter& q) {
            q.drawText(QRect(0, 0, kIndexW, kIndexHeight), Qt::AlignLeft | Qt::AlignTop,
                       QString::asprintf("%02d", i));
          });
      index.Draw(p, x + 1 + (w - 16) / 2, height_ + kIndexOffset);
    }
  }
}

std::vector<std::string> CWaveGraph::ExactLabelRows(int value) {
  const int v = value - kZero;
  const std::string digits = std::to_string(std::abs(v));
  // Sign, blanks, digits: at least four characters, one a row.
  std::string chars(1, v < 0 ? '-' : ' ');
  chars.append(digits.size() < 3 ? 3 - digits.size() : 0, ' ');
  chars += digits;
  std::vector<std::string> rows;
  for (char c : chars) rows.emplace_back(1, c);
  return rows;
}

const CLabelCache::Label& CWaveGraph::ValueLabel(int value) {
  const int exact = value - kZero;
  if (zoom_ && std::abs(exact) > 255) {
    // Keys apart from the plain labels (-255 ... 255) and the index labels.
    constexpr int kExactKey = 1 << 20;
    return labels_.Get(kExactKey + exact, QSize(kRowBoxW, kLabelHeight), [value](QPainter& q) {
      const std::vector<std::string> rows = ExactLabelRows(value);
      const int step = std::min(kRowStep, kLabelHeight / static_cast<int>(rows.size()));
      for (size_t r = 0; r < rows.size(); ++r) {
        if (rows[r] == " ") continue;
        q.drawText(QRect(0, static_cast<int>(r) * step, kRowBoxW, kRowStep),
                   Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(rows[r]));
      }
    });
  }
  const int v = std::clamp(exact, -255, 255);
  return labels_.Get(v, QSize(kRowBoxW, 4 * kRowStep), [v](QPainter& q) {
    char rows[4];
    LabelChars(v + kZero, rows);
    for (int r = 0; r < 4; ++r) {
      if (rows[r] == ' ') continue;
      q.drawText(QRect(0, r * kRowStep, kRowBoxW, kRowStep), Qt::AlignLeft | Qt::AlignTop,
                 QString(QChar::fromLatin1(rows[r])));
    }
  });
}

void CWaveGraph::DrawWaveBars(QPainter& p, Axis a) {
  const int w = BarWidth();
  if (w <= 0) return;
  const int c = height_ / 2;
  const int count = count_[a];
  const int labelTop = LabelTop(a);
  if (count != lastLabelCount_[a]) {
    p.fillRect(0, labelTop, width_, kLabelHeight, face_);
    lastLabelCount_[a] = count;
  }
  p.setFont(font_);
  p.setPen(Qt::black);
  labels_.Use(p);
  const QColor bar = BarColour(a);
  const QColor grey = StaleColour();
  const QColor white(Qt::white);
  for (int i = 0; i < count; ++i) {
    const int value = values_[a][i];
    const int b = BarLength(value);
    const int x = BarLeft(i);
    // Labels overlap their neighbours' boxes when bars are narrow: box, then text, in
    // bar order.
    p.fillRect(x, labelTop, w, kLabelHeight, white);
    ValueLabel(value).Draw(p, x + 1 + (w - 8) / 2, labelTop);
    const QColor& fill = stale_[a][i] ? grey : bar;
    if (zoom_) {
      DrawZoomedBar(p, x, value, fill, bar);
      continue;
    }
    // Clear the column except the zero line, then fill the bar.
    if (c - 2 >= 1) p.fillRect(x, 1, w, c - 2, background_);
    // Row c belongs to the downward bar; clear it too so no stale row remains.
    if (2 * c - 3 >= c) p.fillRect(x, c, w, c - 2, background_);
    if (b > 0) p.fillRect(x, c - b, w, b, fill);
    if (b < 0) p.fillRect(x, c, w, -b, fill);
  }
}

void CWaveGraph::DrawZoomedBar(QPainter& p, int x, int value, const QColor& fill,
                               const QColor& line) {
  const int w = BarWidth();
  p.fillRect(x, 1, w, height_ - 2, background_);
  const int zero = ValueRow(kZero), end = ValueRow(value);
  p.fillRect(x, std::min(zero, end), w, std::abs(end - zero), fill);
  if (ZeroShown()) p.fillRect(x, zero - 2, w, 2, line);
}

// Zoomed: the counts of the top, middle and bottom rows at the frame's left edge.
void CWaveGraph::DrawScale(QPainter& p) {
  const int c = height_ / 2;
  const int rows[3] = {2, c - 7, height_ - 15};
  const double values[3] = {centre_ + half_, centre_, centre_ - half_};
  p.setFont(font_);
  const QFontMetrics fm(font_);
  for (int k = 0; k < 3; ++k) {
    const QString text = QString::number(std::lround(values[k] - kZero));
    const QRect box(2, rows[k], fm.horizontalAdvance(text) + 4, 13);
    p.fillRect(box, QColor(255, 255, 220));
    p.setPen(Qt::black);
    p.drawText(box, Qt::AlignCenter, text);
  }
}

int CWaveGraph::ValueRow(double value) const {
  return ZeroLine() - BarLength(static_cast<int>(std::lround(value)));
}

void CWaveGraph::DrawWhiskers(QPainter& p, Axis a, const Whisker* whiskers, int count) {
  const int w = BarWidth();
  if (w <= 0 || whiskers == nullptr) return;
  const int c = height_ / 2;
  const QColor bar = BarColour(a);
  const QColor line = WhiskerColour();
  const QColor tick = MeanColour();
  count = std::min(count, count_[a]);
  for (int i = 0; i < count; ++i) {
    const Whisker& s = whiskers[i];
    const int x = BarLeft(i);
    // The zero line segment is not cleared with the bar: restore it under the whisker.
    if (!zoom_) p.fillRect(x, c - 2, w, 2, bar);
    const int top = ValueRow(s.max);
    const int bottom = ValueRow(s.min);
    p.fillRect(x + w / 2, top, 1, bottom - top + 1, line);
    p.fillRect(x, top, w, 1, line);
    p.fillRect(x, bottom, w, 1, line);
    p.fillRect(x, ValueRow(s.mean), w, 1, tick);
  }
}
