// The views' fast drawing against the same pictures drawn the slow way (a fill and a
// drawText per label row or value): the same pixels on RGB32 images, where labels are
// stamped straight into the image, and on other surfaces, where the painter draws.
#include <gtest/gtest.h>

#include <QFont>
#include <QImage>
#include <QPainter>
#include <random>

#include "views/CWaveGraph.h"
#include "views/CXYCoordDraw.h"

namespace {

const QColor kFace(240, 240, 240);

::testing::AssertionResult Same(const QImage& a, const QImage& b) {
  const QImage x = a.convertToFormat(QImage::Format_RGB32);
  const QImage y = b.convertToFormat(QImage::Format_RGB32);
  for (int r = 0; r < x.height(); ++r)
    for (int c = 0; c < x.width(); ++c)
      if (x.pixel(c, r) != y.pixel(c, r))
        return ::testing::AssertionFailure() << "pixel (" << c << ", " << r << ") differs";
  return ::testing::AssertionSuccess();
}

// The bars and labels of one axis, one drawText per label row.
void SlowWaveBars(QPainter& p, const CWaveGraph& g, CWaveGraph::Axis a, bool firstPaint) {
  const int w = g.BarWidth(), h = g.FrameHeight(), c = h / 2;
  const int top = a == CWaveGraph::kAxisX ? 2 * (h / 2) : -CWaveGraph::kLabelHeight;
  QFont font("Arial");
  font.setPointSize(8);
  p.setFont(font);
  p.setBackgroundMode(Qt::TransparentMode);
  if (firstPaint) p.fillRect(g.BarLeft(0), top, g.FrameWidth(), CWaveGraph::kLabelHeight, kFace);
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

struct WaveCase {
  int count, width, height;
  QImage::Format format;
};

}  // namespace

TEST(FastDraw, WaveBarsAndLabelsMatchTheSlowDrawing) {
  const WaveCase cases[] = {
      {255, 760, 160, QImage::Format_RGB32},  // 1-pixel bars: labels overlap their neighbours
      {10, 260, 200, QImage::Format_RGB32},
      {37, 500, 120, QImage::Format_RGB32},
      {255, 760, 160, QImage::Format_ARGB32_Premultiplied},  // painter path
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
    const QSize size(k.width + 40, 2 * k.height + 2 * 64 + 40);
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
        const QPoint origin(11, axis == CWaveGraph::kAxisX ? 7 : k.height + 2 * 64 + 20);
        QPainter pa(&a), pb(&b);
        pa.translate(origin);
        pb.translate(origin);
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
  // Large cells bring large numbers, which the painter draws.
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
          pb.drawText(
              QRect(static_cast<int>(i * cw + 0.5f) + 1, static_cast<int>(j * ch + 0.5f) + 1,
                    cell.width() + 200, cell.height() + 200),
              Qt::AlignLeft | Qt::AlignTop, QString::number(v));
        }
      }
      pa.end();
      pb.end();
      ASSERT_TRUE(Same(a, b)) << k.xs << " x " << k.ys << " cells on " << area.width() << " x "
                              << area.height() << ", format " << format;
    }
  }
}
