// Drawing of the data views on images: wave bars and labels, point mapping, strokes,
// value map, cell marking, and the shared point store.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <string>
#include <vector>

#include "views/CPointStore.h"
#include "views/CWaveGraph.h"
#include "views/CXYCoordDraw.h"

namespace {

const QColor kWhite(255, 255, 255);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kFace(240, 240, 240);

QColor At(const QImage& img, int x, int y) {
  return img.pixelColor(x, y);
}

bool AnyPixel(const QImage& img, const QRect& r, const QColor& c) {
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (img.pixelColor(x, y) == c) return true;
  return false;
}

// A wave graph of 10 electrodes per axis in a 260 x 200 frame drawn at (10, 80) of an
// image large enough for the labels above and below.
struct WaveFixture {
  CWaveGraph g;
  QImage img{300, 460, QImage::Format_RGB32};
  QPoint origin{10, 80};
  WaveFixture() {
    g.SetCounts(10, 10);
    g.SetFrameSize(260, 200);
    g.SetFaceColour(kFace);
    img.fill(kFace);
  }
  void Draw(CWaveGraph::Axis a) {
    QPainter p(&img);
    p.translate(origin);
    g.DrawWaveFrame(p, a);
    g.DrawWaveBars(p, a);
  }
  QColor Px(int x, int y) const { return img.pixelColor(origin.x() + x, origin.y() + y); }
  void Set(CWaveGraph::Axis a, int i, int32_t v) { g.Store(a, i, &v, 1); }
};

}  // namespace

TEST(WaveGraph, BarLengthDirectionAndClamping) {
  WaveFixture f;
  const int c = 100;              // zero line: H / 2
  EXPECT_EQ(f.g.BarWidth(), 24);  // (260 - 2) / 10 - 1
  EXPECT_EQ(f.g.BarLength(1000), 0);
  EXPECT_EQ(f.g.BarLength(1255), 96);
  EXPECT_EQ(f.g.BarLength(1400), 96);
  EXPECT_EQ(f.g.BarLength(745), -96);
  EXPECT_EQ(f.g.BarLength(0), -96);
  EXPECT_EQ(f.g.BarLength(1128), 48);
  EXPECT_EQ(f.g.BarLength(990), -3);  // truncates toward zero

  f.Set(CWaveGraph::kAxisX, 1, 1255);
  f.Set(CWaveGraph::kAxisX, 2, 745);
  f.Set(CWaveGraph::kAxisX, 3, 5000);
  f.Draw(CWaveGraph::kAxisX);
  const int x0 = f.g.BarLeft(0) + 5, x1 = f.g.BarLeft(1) + 5, x2 = f.g.BarLeft(2) + 5;
  // 1000: only the zero line rows c-2, c-1.
  EXPECT_EQ(f.Px(x0, c - 1), kBlue);
  EXPECT_EQ(f.Px(x0, c - 3), kWhite);
  EXPECT_EQ(f.Px(x0, c), kWhite);
  // 1255: rows c-96 ... c-1 upward.
  EXPECT_EQ(f.Px(x1, c - 96), kBlue);
  EXPECT_EQ(f.Px(x1, c - 97), kWhite);
  EXPECT_EQ(f.Px(x1, c + 1), kWhite);
  // 745: rows c ... c+95 downward.
  EXPECT_EQ(f.Px(x2, c), kBlue);
  EXPECT_EQ(f.Px(x2, c + 95), kBlue);
  EXPECT_EQ(f.Px(x2, c + 96), kWhite);
  EXPECT_EQ(f.Px(x2, c - 3), kWhite);
  EXPECT_EQ(f.Px(f.g.BarLeft(3) + 5, c - 96), kBlue);  // beyond 1255: full length

  // A bar that turns from down to up leaves nothing of the old bar.
  f.Set(CWaveGraph::kAxisX, 2, 1255);
  {
    QPainter p(&f.img);
    p.translate(f.origin);
    f.g.DrawWaveBars(p, CWaveGraph::kAxisX);
  }
  EXPECT_EQ(f.Px(x2, c), kWhite);
  EXPECT_EQ(f.Px(x2, c + 50), kWhite);
  EXPECT_EQ(f.Px(x2, c - 50), kBlue);
}

// Full bars both ways, drawn twice so that the second drawing clears the first: the
// outline stays whole and nothing right of the frame changes, whatever the count.
TEST(WaveGraph, BarsAndTheirClearingStayInsideTheFrameForEveryCount) {
  const QColor black(0, 0, 0);
  for (const QSize frame : {QSize(760, 160), QSize(701, 161)}) {
    const int W = frame.width(), H = frame.height();
    for (int n = 1; n <= 255; ++n) {
      CWaveGraph g;
      g.SetCounts(n, n);
      g.SetFrameSize(W, H);
      g.SetFaceColour(kFace);
      QImage img(W + 30, H + 2 * 64 + 120, QImage::Format_RGB32);
      img.fill(kFace);
      const QPoint origin(10, 70);
      for (auto a : {CWaveGraph::kAxisX, CWaveGraph::kAxisY}) {
        std::vector<int32_t> v(n);
        for (int i = 0; i < n; ++i) v[i] = (i % 2 == 0) == (a == CWaveGraph::kAxisX) ? 1255 : 745;
        g.Store(a, 0, v.data(), n);
        QPainter p(&img);
        p.translate(origin);
        g.DrawWaveFrame(p, a);
        g.DrawWaveBars(p, a);
        for (int32_t& x : v) x = 2000 - x;
        g.Store(a, 0, v.data(), n);
        g.DrawWaveBars(p, a);
        p.end();
        for (int y = 0; y < H; ++y) {
          ASSERT_EQ(img.pixelColor(origin.x(), origin.y() + y), black) << n << " bars, row " << y;
          ASSERT_EQ(img.pixelColor(origin.x() + W - 1, origin.y() + y), black)
              << n << " bars in " << W << ", row " << y;
          for (int x = W; x < W + 20; ++x)
            ASSERT_EQ(img.pixelColor(origin.x() + x, origin.y() + y), kFace)
                << n << " bars in " << W << ": (" << x << ", " << y << ")";
        }
        for (int x = 0; x < W; ++x) {
          ASSERT_EQ(img.pixelColor(origin.x() + x, origin.y()), black)
              << n << " bars, column " << x;
          ASSERT_EQ(img.pixelColor(origin.x() + x, origin.y() + H - 1), black)
              << n << " bars in " << W << " x " << H << ", column " << x;
        }
      }
    }
  }
}

TEST(WaveGraph, YAxisIsRedAndLabelsSitAboveIt) {
  WaveFixture f;
  f.Set(CWaveGraph::kAxisY, 0, 1200);
  f.Draw(CWaveGraph::kAxisY);
  EXPECT_EQ(f.Px(f.g.BarLeft(0) + 3, 60), kRed);
  // The label box above the graph is filled white; below the graph nothing is drawn.
  EXPECT_EQ(f.Px(f.g.BarLeft(0) + 1, -60), kWhite);
  EXPECT_EQ(f.Px(f.g.BarLeft(0) + 1, 210), kFace);
}

TEST(WaveGraph, LabelRows) {
  using Rows = std::array<std::string, 4>;
  EXPECT_EQ(CWaveGraph::LabelRows(1105), (Rows{" ", "1", "0", "5"}));
  EXPECT_EQ(CWaveGraph::LabelRows(993), (Rows{"-", " ", " ", "7"}));
  EXPECT_EQ(CWaveGraph::LabelRows(1055), (Rows{" ", " ", "5", "5"}));
  EXPECT_EQ(CWaveGraph::LabelRows(1000), (Rows{" ", " ", " ", "0"}));
  EXPECT_EQ(CWaveGraph::LabelRows(600), (Rows{"-", "2", "5", "5"}));  // clamped
  EXPECT_EQ(CWaveGraph::LabelRows(1210), (Rows{" ", "2", "1", "0"}));

  // The label box of the X graph lies directly below it and holds dark text.
  WaveFixture f;
  f.Set(CWaveGraph::kAxisX, 0, 1105);
  f.Draw(CWaveGraph::kAxisX);
  const QRect box(f.origin.x() + f.g.BarLeft(0), f.origin.y() + 200, 25, 64);
  bool dark = false;
  for (int y = box.top(); y <= box.bottom(); ++y)
    for (int x = box.left(); x <= box.right(); ++x) dark |= At(f.img, x, y).lightness() < 128;
  EXPECT_TRUE(dark);
}

// Statistics on (zoomed): a bar runs from the value's zero, not from the middle of the
// range; the scale lies over bars and whiskers; labels give the counts the scale gives.
TEST(WaveGraph, ZoomedBarsRunFromZeroAndLabelsAreExact) {
  WaveFixture f;
  f.Set(CWaveGraph::kAxisY, 0, 1075);
  f.Set(CWaveGraph::kAxisY, 1, 1000);  // untouched: no bar
  f.Set(CWaveGraph::kAxisY, 2, 1150);
  f.g.SetZoom(true, 1075, 86);
  f.Draw(CWaveGraph::kAxisY);
  {
    QPainter p(&f.img);
    p.translate(f.origin);
    const CWaveGraph::Whisker w[3] = {{1065, 1085, 1075}, {1000, 1000, 1000}, {1140, 1160, 1150}};
    f.g.DrawWhiskers(p, CWaveGraph::kAxisY, w, 3);
    f.g.DrawScale(p);
  }
  const int zero = f.g.ValueRow(1000);
  const int x1 = f.g.BarLeft(1) + 2, x2 = f.g.BarLeft(2) + 2;
  EXPECT_GT(zero, 170);
  EXPECT_FALSE(AnyPixel(f.img, QRect(f.origin.x() + x1, f.origin.y() + 101, 1, zero - 104), kRed));
  EXPECT_EQ(f.Px(x2, 150), kRed);                 // below the middle: part of the bar from zero
  EXPECT_EQ(f.Px(x2, zero - 1), kRed);            // the zero line
  EXPECT_EQ(f.Px(3, 98), QColor(255, 255, 220));  // the middle scale label, not struck

  using Rows = std::vector<std::string>;
  EXPECT_EQ(CWaveGraph::ExactLabelRows(0), (Rows{"-", "1", "0", "0", "0"}));
  EXPECT_EQ(CWaveGraph::ExactLabelRows(1150), (Rows{" ", "1", "5", "0"}));
  EXPECT_EQ(CWaveGraph::ExactLabelRows(997), (Rows{"-", " ", " ", "3"}));
}

TEST(WaveGraph, StoreKeepsUncoveredValuesAndStaysInsideArrays) {
  CWaveGraph g;
  std::vector<int32_t> v{1, 2, 3, 4, 5};
  EXPECT_EQ(g.Store(CWaveGraph::kAxisX, 10, v.data(), 5), 5);
  const auto& x = g.Values(CWaveGraph::kAxisX);
  EXPECT_EQ(x[9], 1000);
  EXPECT_EQ(x[10], 1);
  EXPECT_EQ(x[14], 5);
  EXPECT_EQ(x[15], 1000);
  EXPECT_EQ(g.Values(CWaveGraph::kAxisY)[10], 1000);

  std::vector<int32_t> many(10, 1500);
  EXPECT_EQ(g.Store(CWaveGraph::kAxisY, 250, many.data(), 10), 5);
  EXPECT_EQ(g.Values(CWaveGraph::kAxisY)[254], 1500);
  g.SetCounts(1000, -3);
  EXPECT_EQ(g.Count(CWaveGraph::kAxisX), 255);
  EXPECT_EQ(g.Count(CWaveGraph::kAxisY), 0);
}

TEST(WaveGraph, NoBarsWithoutElectrodes) {
  WaveFixture f;
  f.g.SetCounts(0, 0);
  f.Set(CWaveGraph::kAxisX, 0, 1255);
  f.Draw(CWaveGraph::kAxisX);
  EXPECT_EQ(f.g.BarWidth(), 0);
  EXPECT_FALSE(AnyPixel(f.img, f.img.rect(), kBlue));
}

// ---------------------------------------------------------------- coordinate drawing

namespace {

struct XYFixture {
  CXYCoordDraw d;
  QImage img{1024, 768, QImage::Format_RGB32};
  explicit XYFixture(int xc = 16, int yc = 12) {
    img.fill(kWhite);
    d.SetSize(1024, 768);
    d.SetCounts(xc, yc);
    QPainter p(&img);
    d.DrawGrid(p);
  }
  int Plot(int x, int y, int finger, int state) {
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    return d.PlotPoint(x, y, finger, state, &p);
  }
};

}  // namespace

TEST(XYCoordDraw, FixedAndPanelScaleMapping) {
  XYFixture f;
  int px = 0, py = 0;
  f.d.MapFixed(512, 512, px, py);
  EXPECT_EQ(QPoint(px, py), QPoint(512, 384));

  f.d.SetRanges(2048, 1536);
  ASSERT_TRUE(f.d.MapScaled(1024, 768, px, py));
  EXPECT_EQ(QPoint(px, py), QPoint(512, 384));

  f.d.SetRanges(0, 0);
  f.d.SetResolution(128);
  ASSERT_TRUE(f.d.MapScaled(1024, 768, px, py));
  EXPECT_EQ(QPoint(px, py), QPoint(512, 384));

  f.d.SetResolution(0);
  EXPECT_FALSE(f.d.MapScaled(1024, 768, px, py));
  EXPECT_EQ(f.d.PlotPointScaled(1024, 768, 0, 1, nullptr), 0);
}

TEST(XYCoordDraw, StrokesJoinWhileTouchingAndBreakOnLiftOrNoTouch) {
  XYFixture f;
  const int y = 500;  // pixel row 375, between grid lines
  EXPECT_EQ(f.Plot(100, y, 0, 1), 1);
  EXPECT_EQ(f.Plot(200, y, 0, 1), 1);
  EXPECT_EQ(At(f.img, 150, 375), kBlue);  // joined
  EXPECT_EQ(f.Plot(300, y, 0, 2), 1);     // lifted: last segment still drawn
  EXPECT_EQ(At(f.img, 250, 375), kBlue);
  EXPECT_EQ(f.Plot(400, y, 0, 1), 1);  // new stroke
  EXPECT_EQ(At(f.img, 350, 375), kWhite);
  EXPECT_TRUE(AnyPixel(f.img, QRect(399, 374, 3, 3), kBlue));  // its dot
  EXPECT_EQ(f.Plot(700, y, 0, 0), 1);  // no touch: draws nothing, ends the stroke
  EXPECT_EQ(At(f.img, 700, 375), kWhite);
  EXPECT_EQ(f.d.LastPoint(0).state, 0);
  EXPECT_EQ(f.Plot(500, y, 0, 1), 1);
  EXPECT_EQ(At(f.img, 450, 375), kWhite);

  // Finger colours are kept per finger.
  EXPECT_EQ(f.Plot(100, 100, 1, 1), 1);
  EXPECT_EQ(f.Plot(200, 100, 1, 1), 1);
  EXPECT_EQ(At(f.img, 150, 75), kRed);

  // Refusals: finger 10, outside the area, no surface.
  EXPECT_EQ(f.Plot(100, 100, 10, 1), 0);
  EXPECT_EQ(f.Plot(2000, 100, 2, 1), 0);
  EXPECT_EQ(f.d.PlotPoint(600, 600, 3, 1, nullptr), 0);
  // A grid drawing ends every stroke.
  {
    QPainter p(&f.img);
    f.d.DrawGrid(p);
  }
  EXPECT_EQ(f.d.LastPoint(1).state, 0);
}

TEST(XYCoordDraw, GridPositionsFollowTheGeometry) {
  XYFixture f(16, 12);
  EXPECT_EQ(f.d.Column(16), 1024);
  EXPECT_EQ(f.d.Row(12), 768);
  EXPECT_EQ(f.d.Column(3), 192);
  // Another geometry is computed anew; the largest count stays inside the tables.
  XYFixture big(255, 255);
  EXPECT_EQ(big.d.Column(255), 1024);
  EXPECT_EQ(big.d.Column(1), 4);  // 4.016 rounded
  EXPECT_EQ(big.d.Row(255), 768);
  // Without cells the quarter and centre lines are drawn.
  XYFixture none(0, 0);
  EXPECT_EQ(At(none.img, 512, 100), QColor(0, 0, 0));
  EXPECT_NE(At(none.img, 256, 100), kWhite);
}

TEST(XYCoordDraw, ValueMapColoursAndCells) {
  EXPECT_EQ(CXYCoordDraw::ValueColour(-255), QColor(255, 0, 255));
  EXPECT_EQ(CXYCoordDraw::ValueColour(-600), QColor(255, 0, 255));
  EXPECT_EQ(CXYCoordDraw::ValueColour(0), kWhite);
  EXPECT_EQ(CXYCoordDraw::ValueColour(255), QColor(255, 255, 0));
  EXPECT_EQ(CXYCoordDraw::ValueColour(100), QColor(255, 255, 155));

  XYFixture f;  // cells of 64 x 64
  const int32_t row[4] = {1255, 1000, 745, 1100};
  {
    QPainter p(&f.img);
    f.d.DrawValueMap(2, 5, 1, row, 4, p, false);
  }
  auto cellCentre = [&](int i, int j) { return At(f.img, i * 64 + 32, j * 64 + 32); };
  EXPECT_EQ(cellCentre(2, 5), QColor(255, 255, 0));
  EXPECT_EQ(cellCentre(3, 5), kWhite);
  EXPECT_EQ(cellCentre(4, 5), QColor(255, 0, 255));
  EXPECT_EQ(cellCentre(5, 5), QColor(255, 255, 155));
  EXPECT_EQ(cellCentre(6, 5), kWhite);
  EXPECT_EQ(cellCentre(2, 6), kWhite);

  // Direction 0 runs down a column; values past the grid are skipped.
  const int32_t col[4] = {745, 745, 745, 745};
  {
    QPainter p(&f.img);
    f.d.DrawValueMap(15, 10, 0, col, 4, p, false);
    f.d.DrawValueMap(0, 0, 2, col, 4, p, false);  // direction 2: nothing
  }
  EXPECT_EQ(cellCentre(15, 10), QColor(255, 0, 255));
  EXPECT_EQ(cellCentre(15, 11), QColor(255, 0, 255));
  EXPECT_EQ(cellCentre(0, 0), kWhite);
}

// A number wider than its cell is drawn smaller, inside the cell: "-1000" is never cut.
TEST(XYCoordDraw, LongValuesStayInsideTheirCells) {
  XYFixture f(38, 22);  // cells of about 27 pixels
  const int32_t v[1] = {0};
  {
    QPainter p(&f.img);
    f.d.DrawValueMap(4, 3, 1, v, 1, p, true);
  }
  const QRect next(f.d.Column(5) + 1, f.d.Row(3) + 1, f.d.Column(6) - f.d.Column(5) - 2,
                   f.d.Row(4) - f.d.Row(3) - 2);
  for (int y = next.top(); y <= next.bottom(); ++y)
    for (int x = next.left(); x <= next.right(); ++x)
      ASSERT_EQ(f.img.pixelColor(x, y), kWhite) << x << "," << y;
  int ink = 0;  // the number is there, in its own cell
  for (int y = f.d.Row(3) + 1; y < f.d.Row(4) - 1; ++y)
    for (int x = f.d.Column(4) + 1; x < f.d.Column(5) - 1; ++x)
      ink += f.img.pixelColor(x, y) != CXYCoordDraw::ValueColour(-1000) ? 1 : 0;
  EXPECT_GT(ink, 10);
}

TEST(XYCoordDraw, MarkCellLabelsAndMovesTheMarker) {
  XYFixture f;
  const QColor orange(255, 128, 0);
  {
    QPainter p(&f.img);
    f.d.MarkCell(p, 3 * 64 + 32, 7 * 64 + 32, false);
  }
  EXPECT_EQ(CXYCoordDraw::CellLabel(3, 7), "(03, 07)");
  EXPECT_EQ(f.d.MarkerPosition(), QPoint(224, 480));
  const QRect first = f.d.MarkerLabelBox();
  EXPECT_EQ(first, QRect(224, 460, 55, 18));
  EXPECT_TRUE(AnyPixel(f.img, first, orange));
  EXPECT_TRUE(AnyPixel(f.img, QRect(222, 478, 5, 5), orange));  // the dot

  // From the XY Window the point moves 3 pixels left and up; the old label goes.
  {
    QPainter p(&f.img);
    f.d.MarkCell(p, 10 * 64 + 3, 5, true);
  }
  EXPECT_EQ(f.d.MarkerPosition(), QPoint(640, 2));
  EXPECT_EQ(f.d.MarkerLabelBox(), QRect(640, 20, 55, 18));  // near the top: below it
  EXPECT_FALSE(AnyPixel(f.img, first, orange));
  EXPECT_TRUE(AnyPixel(f.img, f.d.MarkerLabelBox(), orange));

  // Near the right edge the box stays inside the grid; outside the grid nothing happens.
  {
    QPainter p(&f.img);
    f.d.MarkCell(p, 1020, 300, false);
    EXPECT_EQ(f.d.MarkerLabelBox().left(), 1024 - 55);
    f.d.MarkCell(p, 1030, 300, false);
  }
  EXPECT_EQ(f.d.MarkerPosition(), QPoint(1020, 300));
}

TEST(XYCoordDraw, CellSearchOnUnevenGrid) {
  CXYCoordDraw d;
  d.SetSize(31, 10);
  d.SetCounts(3, 1);  // columns 0, 10, 21, 31
  QImage img(31, 10, QImage::Format_RGB32);
  QPainter p(&img);
  d.DrawGrid(p);
  ASSERT_EQ(d.Column(2), 21);
  int col = -1, row = -1;
  for (auto [x, want] : {std::pair{0, 0}, {9, 0}, {10, 1}, {20, 1}, {21, 2}, {31, 2}}) {
    ASSERT_TRUE(d.CellAt(x, 5, col, row));
    EXPECT_EQ(col, want) << "x=" << x;
  }
  EXPECT_FALSE(d.CellAt(32, 5, col, row));
}

TEST(PointStore, WrapsAfter9999AndReplaysOldestFirst) {
  CPointStore s;
  EXPECT_EQ(s.Size(), 0);
  for (int i = 1; i <= 10001; ++i) {
    TouchPoint p;
    p.x = static_cast<uint16_t>(i % 65536);
    p.y = static_cast<uint16_t>(i / 65536);
    s.Add(p);
  }
  EXPECT_TRUE(s.Wrapped());
  EXPECT_EQ(s.Count(), 2);
  EXPECT_EQ(s.Slot(1).x, 10000);
  std::vector<int> order;
  s.ForEach([&](const TouchPoint& p) { order.push_back(p.x + 65536 * p.y); });
  ASSERT_EQ(order.size(), 9999u);
  EXPECT_EQ(order.front(), 3);
  EXPECT_EQ(order.back(), 10001);
  for (size_t i = 1; i < order.size(); ++i) ASSERT_EQ(order[i], order[i - 1] + 1);
  s.Clear();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_FALSE(s.Wrapped());
}
