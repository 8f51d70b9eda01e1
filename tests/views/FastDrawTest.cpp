// The views' labels come from cached label images; the pictures must be those of the
// plain way (a fill and a drawText per label row or value) on every surface.
#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <random>

#include "views/CWaveGraph.h"
#include "views/CXYCoordDraw.h"

namespace {

const QColor kFace(240, 240, 240);

// Equal within tolerance per channel.
::testing::AssertionResult Same(const QImage& a, const QImage& b, int tolerance = 0) {
  const QImage x = a.convertToFormat(QImage::Format_RGB32);
  const QImage y = b.convertToFormat(QImage::Format_RGB32);
  for (int r = 0; r < x.height(); ++r)
    for (int c = 0; c < x.width(); ++c) {
      const QRgb u = x.pixel(c, r), v = y.pixel(c, r);
      if (std::abs(qRed(u) - qRed(v)) > tolerance || std::abs(qGreen(u) - qGreen(v)) > tolerance ||
          std::abs(qBlue(u) - qBlue(v)) > tolerance)
        return ::testing::AssertionFailure()
               << "pixel (" << c << ", " << r << ") differs: " << std::hex << u << " " << v;
    }
  return ::testing::AssertionSuccess();
}

// The bars and labels of one axis, one drawText per label row.
void SlowWaveBars(QPainter& p, const CWaveGraph& g, CWaveGraph::Axis a, bool firstPaint) {
  const int w = g.BarWidth(), h = g.FrameHeight(), c = h / 2;
  const int top = a == CWaveGraph::kAxisX ? h : -CWaveGraph::kLabelHeight;
  QFont font("Arial");
  font.setPointSize(8);
  p.setFont(font);
  p.setBackgroundMode(Qt::TransparentMode);
  if (firstPaint) p.fillRect(0, top, g.FrameWidth(), CWaveGraph::kLabelHeight, kFace);
  for (int i = 0; i < g.Count(a); ++i) {
    const int value = g.Values(a)[i], b = g.BarLength(value), x = g.BarLeft(i);
    p.fillRect(x, top, w, CWaveGraph::kLabelHeight, Qt::white);
    p.setPen(Qt::black);
    const auto rows = CWaveGraph::LabelRows(value);
    for (int r = 0; r < 4; ++r)
      p.drawText(QRect(x + 1 + (w - 8) / 2, top + r * 13, 16, 13), Qt::AlignLeft | Qt::AlignTop,
                 QString::fromLatin1(rows[r].c_str()));
    if (c - 2 >= 1) p.fillRect(x, 1, w, c - 2, Qt::white);
    if (2 * c - 3 >= c) p.fillRect(x, c, w, c - 2, Qt::white);
    if (b > 0) p.fillRect(x, c - b, w, b, g.BarColour(a));
    if (b < 0) p.fillRect(x, c, w, -b, g.BarColour(a));
  }
}

// The outline, zero line and index labels ("%02d" every fifth X electrode).
void SlowWaveFrame(QPainter& p, const CWaveGraph& g, CWaveGraph::Axis a) {
  const int w = g.BarWidth(), h = g.FrameHeight();
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  p.drawRect(0, 0, g.FrameWidth() - 1, h - 1);
  p.setBrush(Qt::NoBrush);
  if (a == CWaveGraph::kAxisX)
    p.fillRect(-5, h + CWaveGraph::kIndexOffset, g.FrameWidth(), CWaveGraph::kIndexHeight, kFace);
  QFont font("Arial");
  font.setPointSize(8);
  p.setFont(font);
  for (int i = 0; i < g.Count(a); ++i) {
    p.fillRect(g.BarLeft(i), h / 2 - 2, w, 2, g.BarColour(a));
    if (a == CWaveGraph::kAxisX && i % 5 == 0)
      p.drawText(QRect(g.BarLeft(i) + 1 + (w - 16) / 2, h + CWaveGraph::kIndexOffset, 40,
                       CWaveGraph::kIndexHeight),
                 Qt::AlignLeft | Qt::AlignTop, QString::asprintf("%02d", i));
  }
}

struct WaveCase {
  int count, width, height;
  QImage::Format format;
};

}  // namespace

TEST(FastDraw, WaveBarsAndLabelsMatchTheSlowDrawing) {
  const WaveCase cases[] = {
      {255, 760, 160, QImage::Format_RGB32},  // 1-pixel bars: labels overlap their neighbours
      {10, 260, 200, QImage::Format_RGB32},  {37, 500, 120, QImage::Format_RGB32},
      {60, 701, 161, QImage::Format_RGB32},  {255, 760, 160, QImage::Format_ARGB32_Premultiplied},
  };
  std::mt19937 rng(17);
  std::uniform_int_distribution<int> value(600, 1400);
  for (const WaveCase& k : cases) {
    CWaveGraph fast, slow;
    for (CWaveGraph* g : {&fast, &slow}) {
      g->SetCounts(k.count, k.count);
      g->SetFrameSize(k.width, k.height);
      g->SetFaceColour(kFace);
    }
    const QSize size(k.width + 40, 2 * k.height + 2 * 64 + 140);
    QImage a(size, k.format), b(size, k.format);
    a.fill(kFace);
    b.fill(kFace);
    // Two ticks: the labels of the first stay partly under those of the second.
    for (int tick = 0; tick < 2; ++tick) {
      for (auto axis : {CWaveGraph::kAxisX, CWaveGraph::kAxisY}) {
        std::vector<int32_t> v(CWaveGraph::kMaxValues);
        for (int32_t& x : v) x = value(rng);
        v[0] = 1000;
        v[1] = 1255;
        v[2] = 745;
        v[3] = 1105;
        v[4] = 993;
        fast.Store(axis, 0, v.data(), static_cast<int>(v.size()));
        slow.Store(axis, 0, v.data(), static_cast<int>(v.size()));
        const QPoint origin(11, axis == CWaveGraph::kAxisX ? 7 : k.height + 2 * 64 + 120);
        QPainter pa(&a), pb(&b);
        pa.translate(origin);
        pb.translate(origin);
        if (tick == 0) {
          fast.DrawWaveFrame(pa, axis);
          SlowWaveFrame(pb, slow, axis);
        }
        fast.DrawWaveBars(pa, axis);
        SlowWaveBars(pb, slow, axis, tick == 0);
      }
      ASSERT_TRUE(Same(a, b)) << k.count << " bars in " << k.width << " x " << k.height
                              << ", format " << k.format << ", tick " << tick;
    }
  }
}

TEST(FastDraw, ValueMapWithNumbersMatchesTheSlowDrawing) {
  std::mt19937 rng(23);
  std::uniform_int_distribution<int> value(400, 1600);
  struct Case {
    QSize area;
    int xs, ys;
  };
  // A grey label blended from its image rounds up to three levels apart from drawText's
  // own blending (over neighbouring numbers, and in large text, which Qt fills as
  // paths); a number misplaced or missing differs by far more.
  for (const Case& k :
       {Case{QSize(1280, 800), 38, 22}, Case{QSize(700, 560), 38, 22},
        Case{QSize(300, 200), 38, 22}, Case{QSize(1280, 800), 4, 3}, Case{QSize(300, 200), 4, 3}}) {
    const QSize area = k.area;
    for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied}) {
      CXYCoordDraw draw;
      draw.SetSize(area.width(), area.height());
      draw.SetCounts(k.xs, k.ys);
      QImage a(area + QSize(10, 10), format);
      a.fill(Qt::white);
      {
        QPainter p(&a);
        p.translate(3, 5);
        draw.DrawGrid(p);
      }
      QImage b = a.copy();
      QPainter pa(&a), pb(&b);
      pa.translate(3, 5);
      pb.translate(3, 5);
      const float cw = static_cast<float>(area.width()) / k.xs,
                  ch = static_cast<float>(area.height()) / k.ys;
      QFont font("Arial");
      font.setPointSize(static_cast<int>(cw + 0.5f) / 3);
      for (int j = 0; j < k.ys; ++j) {
        int32_t row[38];
        for (int32_t& v : row) v = value(rng);
        draw.DrawValueMap(0, j, 1, row, k.xs, pa, true);
        pb.setFont(font);
        for (int i = 0; i < k.xs; ++i) {
          const int v = row[i] - 1000;
          const QRect cell(draw.Column(i), draw.Row(j), draw.Column(i + 1) - draw.Column(i) - 1,
                           draw.Row(j + 1) - draw.Row(j) - 1);
          pb.fillRect(cell, CXYCoordDraw::ValueColour(v));
          if (font.pointSize() <= 0) continue;
          pb.setPen(QColor(77, 77, 77));
          // A number wider than its cell is drawn smaller to fit.
          const QString text = QString::number(v);
          const int room = static_cast<int>(cw) - 2;
          const int need = QFontMetrics(font, &b).horizontalAdvance(text);
          QFont fitted = font;
          if (need > room && room > 0) fitted.setPointSizeF(font.pointSizeF() * room / need);
          pb.setFont(fitted);
          pb.drawText(
              QRect(static_cast<int>(i * cw + 0.5f) + 1, static_cast<int>(j * ch + 0.5f) + 1,
                    cell.width() + 200, cell.height() + 200),
              Qt::AlignLeft | Qt::AlignTop, text);
        }
      }
      pa.end();
      pb.end();
      ASSERT_TRUE(Same(a, b, 3)) << k.xs << " x " << k.ys << " cells on " << area.width() << " x "
                                 << area.height() << ", format " << format;
    }
  }
}
