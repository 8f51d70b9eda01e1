#include "CXYCoordDraw.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

namespace {

int RoundHalfUp(float v) {
  return static_cast<int>(v + 0.5f);
}

const QColor kFingerColours[CXYCoordDraw::kFingers] = {
    QColor(0, 0, 255),   QColor(255, 0, 0),   QColor(0, 100, 100), QColor(100, 100, 0),
    QColor(125, 0, 125), QColor(0, 0, 0),     QColor(0, 255, 0),   QColor(100, 0, 100),
    QColor(125, 125, 0), QColor(0, 125, 125),
};

const QColor kMarkerColour(255, 128, 0);
const QColor kValueTextColour(77, 77, 77);
constexpr int kLabelW = 55;
constexpr int kLabelH = 18;

}  // namespace

CXYCoordDraw::CXYCoordDraw() {
  CreatePens();
}

void CXYCoordDraw::SetRanges(int xRange, int yRange) {
  xRange_ = xRange;
  yRange_ = yRange;
}

void CXYCoordDraw::SetSize(int width, int height) {
  if (width != width_ || height != height_) recompute_ = true;
  width_ = width;
  height_ = height;
}

void CXYCoordDraw::SetCounts(int xCount, int yCount) {
  xCount = std::clamp(xCount, 0, kMaxCells);
  yCount = std::clamp(yCount, 0, kMaxCells);
  // Cached positions belong to one geometry; another one needs them anew.
  if (xCount != xCount_ || yCount != yCount_) recompute_ = true;
  xCount_ = xCount;
  yCount_ = yCount;
}

QColor CXYCoordDraw::FingerColour(int finger) {
  return kFingerColours[std::clamp(finger, 0, kFingers - 1)];
}

void CXYCoordDraw::CreatePens() {
  erasePen_ = QPen(QColor(255, 255, 255), 1);
  for (int i = 0; i < kFingers; ++i) fingerPens_[i] = QPen(kFingerColours[i], 1);
  gridPen_ = QPen(QColor(220, 220, 220), 2);
  axisPen_ = QPen(QColor(0, 0, 0), 1);
}

void CXYCoordDraw::DrawGrid(QPainter& p) {
  p.setPen(gridPen_);
  if (xCount_ != 0 && yCount_ != 0) {
    p.setBackgroundMode(Qt::TransparentMode);
    cellW_ = static_cast<float>(width_) / xCount_;
    cellH_ = static_cast<float>(height_) / yCount_;
    left_ = 0;
    top_ = 0;
    right_ = RoundHalfUp(xCount_ * cellW_);
    bottom_ = RoundHalfUp(yCount_ * cellH_);
    if (recompute_) {
      for (int i = 0; i <= xCount_; ++i) columns_[i] = RoundHalfUp(i * cellW_ + left_);
      for (int j = 0; j <= yCount_; ++j) rows_[j] = RoundHalfUp(j * cellH_ + top_);
    }
    for (int i = 0; i <= xCount_; ++i) p.drawLine(columns_[i], top_, columns_[i], bottom_);
    for (int j = 0; j <= yCount_; ++j) p.drawLine(left_, rows_[j], right_, rows_[j]);
    recompute_ = false;
    last_.fill(FingerState{});
    return;
  }
  const int w = width_, h = height_;
  p.drawLine(w / 4, 0, w / 4, h);
  p.drawLine((w / 4) * 3, 0, (w / 4) * 3, h);
  p.drawLine(0, h / 4, w, h / 4);
  p.drawLine(0, (h / 4) * 3, w, (h / 4) * 3);
  p.setPen(axisPen_);
  p.drawLine(w / 2, 0, w / 2, h);
  p.drawLine(0, h / 2, w, h / 2);
}

void CXYCoordDraw::MapFixed(int x, int y, int& px, int& py) const {
  px = left_ + (x * (right_ - left_)) / 1024;
  py = top_ + (y * (bottom_ - top_)) / 1024;
}

bool CXYCoordDraw::MapScaled(int x, int y, int& px, int& py) const {
  if (xRange_ != 0 && yRange_ != 0) {
    px = left_ + ((right_ - left_) * x) / xRange_;
    py = top_ + (y * (bottom_ - top_)) / yRange_;
    return true;
  }
  if (resolution_ == 0 || xCount_ == 0 || yCount_ == 0) return false;
  px = left_ + ((right_ - left_) * x) / (xCount_ * resolution_);
  py = top_ + (y * (bottom_ - top_)) / (yCount_ * resolution_);
  return true;
}

int CXYCoordDraw::PlotPoint(int x, int y, int finger, int state, QPainter* p) {
  int px = 0, py = 0;
  MapFixed(x, y, px, py);
  return DrawPoint(px, py, finger, state, p);
}

int CXYCoordDraw::PlotPointScaled(int x, int y, int finger, int state, QPainter* p) {
  int px = 0, py = 0;
  if (!MapScaled(x, y, px, py)) return 0;
  return DrawPoint(px, py, finger, state, p);
}

int CXYCoordDraw::DrawPoint(int px, int py, int finger, int state, QPainter* p) {
  if (finger < 0 || finger >= kFingers) return 0;
  FingerState& last = last_[finger];
  if (state == 0) {
    last.state = 0;
    return 1;
  }
  if (px < 0 || px > width_ || py < 0 || py > height_) return 0;
  if (px != last.x || py != last.y) {
    if (p == nullptr) return 0;
    p->setBrush(Qt::NoBrush);
    p->setPen(erasePen_);
    if (state == 2 && last.state == 0) p->drawEllipse(QPoint(last.x, last.y), 1, 1);
    p->drawEllipse(QPoint(px, py), 1, 1);
    p->setPen(fingerPens_[finger]);
    if (lineMode_ && last.state != 0) p->drawLine(last.x, last.y, px, py);
    p->drawEllipse(QPoint(px, py), 1, 1);
    last.x = px;
    last.y = py;
  }
  // A point that is not touching ends the stroke.
  last.state = state == 1 ? 1 : 0;
  return 1;
}

QColor CXYCoordDraw::ValueColour(int v) {
  v = std::clamp(v, -255, 255);
  if (v <= 0) return QColor(255, 255 + v, 255);
  return QColor(255, 255, 255 - v);
}

void CXYCoordDraw::DrawValueMap(int startX, int startY, int direction, const int32_t* values,
                                int count, QPainter& p, bool printValues) {
  QueueValueMap(startX, startY, direction, values, count, printValues);
  DrawQueuedValues(p);
}

void CXYCoordDraw::QueueValueMap(int startX, int startY, int direction, const int32_t* values,
                                 int count, bool printValues) {
  if (direction == 2 || values == nullptr) return;
  if (cellValue_.empty()) {
    cellValue_.assign(kMaxCells * kMaxCells, 0);
    cellQueued_.assign(kMaxCells * kMaxCells, 0);
  }
  queuedText_ = printValues && showValues_;
  int i = startX, j = startY;
  for (int k = 0; k < count; ++k) {
    if (i < 0 || j < 0 || i >= xCount_ || j >= yCount_) continue;
    const int cell = j * kMaxCells + i;
    cellValue_[cell] = values[k] - 1000;
    if (!cellQueued_[cell]) {
      cellQueued_[cell] = 1;
      queued_.emplace_back(static_cast<uint8_t>(i), static_cast<uint8_t>(j));
    }
    if (direction == 1) ++i;
    if (direction == 0) ++j;
  }
}

void CXYCoordDraw::DrawQueuedValues(QPainter& p) {
  if (queued_.empty()) return;
  const int fontPt = RoundHalfUp(cellW_) / 3;
  const bool text = queuedText_ && fontPt > 0;
  QSize labelSize;
  if (text) {
    QFont font("Arial");
    font.setPointSize(fontPt);
    p.setFont(font);
    p.setPen(kValueTextColour);
    valueLabels_.Use(p);
    // Room for the longest number ("-1000" ... "64535") with its overhang.
    const QFontMetrics fm(font, p.device());
    labelSize =
        QSize(fm.horizontalAdvance(QStringLiteral("-000000")) + fm.height(), 2 * fm.height());
  }
  for (const auto& [i, j] : queued_) {
    const int cell = j * kMaxCells + i;
    cellQueued_[cell] = 0;
    // The grid may have shrunk since the value came.
    if (i >= xCount_ || j >= yCount_) continue;
    const int v = cellValue_[cell];
    p.fillRect(columns_[i], rows_[j], columns_[i + 1] - columns_[i] - 1,
               rows_[j + 1] - rows_[j] - 1, ValueColour(v));
    if (text) {
      const int room = static_cast<int>(cellW_) - 2;
      const CLabelCache::Label& label =
          valueLabels_.Get(v, labelSize, [v, labelSize, room](QPainter& q) {
            // A number wider than its cell ("-1000") is drawn smaller, never cut.
            const QString text = QString::number(v);
            const int need = q.fontMetrics().horizontalAdvance(text);
            if (need > room && room > 0) {
              QFont small = q.font();
              small.setPointSizeF(small.pointSizeF() * room / need);
              q.setFont(small);
            }
            q.drawText(QRect(QPoint(0, 0), labelSize), Qt::AlignLeft | Qt::AlignTop, text);
          });
      label.Draw(p, RoundHalfUp(i * cellW_) + 1, RoundHalfUp(j * cellH_) + 1);
    }
  }
  queued_.clear();
}

bool CXYCoordDraw::CellAt(int x, int y, int& col, int& row) const {
  if (xCount_ == 0 || yCount_ == 0) return false;
  if (x < columns_[0] || x > columns_[xCount_] || y < rows_[0] || y > rows_[yCount_]) return false;
  // Bisection for the last grid line at or before the point.
  auto find = [](const int* pos, int n, int v) {
    int lo = 0, hi = n;
    while (hi > lo + 1) {
      const int mid = (lo + hi) / 2;
      if (v < pos[mid]) {
        hi = mid;
      } else {
        lo = mid;
      }
    }
    return lo;
  };
  col = find(columns_.data(), xCount_, x);
  row = find(rows_.data(), yCount_, y);
  return true;
}

QString CXYCoordDraw::CellLabel(int col, int row) {
  return QString::asprintf("(%02d, %02d)", col, row);
}

QRect CXYCoordDraw::LabelBoxAt(QPoint pt) const {
  const int x = std::min(pt.x(), columns_[xCount_] - kLabelW);
  const int y = (pt.y() - rows_[0] < 20) ? rows_[0] + 20 : pt.y() - 20;
  return QRect(x, y, kLabelW, kLabelH);
}

void CXYCoordDraw::MarkCell(QPainter& p, int x, int y, bool fromXYWindow) {
  const QColor back = Background();
  if (fromXYWindow) {
    x -= 3;
    y -= 3;
  }
  int col = 0, row = 0;
  if (!CellAt(x, y, col, row)) return;
  const QString label = CellLabel(col, row);

  p.fillRect(LabelBoxAt(marker_), back);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(back, 1));
  p.drawEllipse(marker_, 1, 1);
  DrawGrid(p);

  const QPoint pt(x, y);
  const QRect box = LabelBoxAt(pt);
  p.fillRect(box, back);
  p.setPen(kMarkerColour);
  p.setBackgroundMode(Qt::TransparentMode);
  p.drawText(box, Qt::AlignLeft | Qt::AlignTop, label);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kMarkerColour, 1));
  p.drawEllipse(pt, 1, 1);
  marker_ = pt;
}
