// The touch figures of the XY Window and the accuracy mode of the full-screen view, fed
// with coordinate reports.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QWidget>
#include <cmath>
#include <vector>

#include "views/CAccuracyMode.h"
#include "views/CTouchFigures.h"

namespace {

std::vector<uint8_t> Report(uint8_t code, uint8_t finger, int x, int y) {
  return {0x02, 0x4D, 7, 1, code, finger, static_cast<uint8_t>(x & 0xFF), static_cast<uint8_t>(x >> 8),
          static_cast<uint8_t>(y & 0xFF), static_cast<uint8_t>(y >> 8)};
}

}  // namespace

TEST(TouchFigures, OffByDefaultThenRateAndJitterOfAHeldContact) {
  QWidget window, area(&window);
  CTouchFigures figures(&window, &area);
  int64_t now = 0;
  figures.clock = [&] { return now; };
  figures.SetPanel(2432, 1408, 190, 110);  // 0.078 mm a unit
  auto* label = area.findChild<QLabel*>("touchFiguresText");
  ASSERT_NE(label, nullptr);
  EXPECT_FALSE(figures.IsOn());
  EXPECT_FALSE(figures.CheckBox()->isChecked());
  EXPECT_EQ(figures.CheckBox()->text(), "Touch figures");
  auto f = Report(7, 0, 1200, 700);
  figures.OnFrame(static_cast<int>(f.size()), f.data());  // ignored while off

  figures.CheckBox()->setChecked(true);
  EXPECT_FALSE(label->isHidden());
  // Contact 0 held at 125 Hz, 1 unit to either side: jitter 0.08 mm; contact 5 moving.
  // Named by id, never "F1", "F2" as the Report Rate counts them by position.
  for (int i = 0; i <= 125; ++i) {
    now = i * 8000;
    auto held = Report(7, 0, 1200 + (i % 2 ? 1 : -1), 700);
    figures.OnFrame(static_cast<int>(held.size()), held.data());
    auto moving = Report(7, 5, 100 + 10 * i, 300);
    figures.OnFrame(static_cast<int>(moving.size()), moving.data());
  }
  figures.Refresh();
  EXPECT_EQ(figures.Text(), "contact 0: 125 Hz, held, jitter 0.08 mm\ncontact 5: 125 Hz");

  // Without the panel size only the rate; lifted contacts leave the list.
  figures.SetPanel(2432, 1408, 0, 0);
  now += 900'000;
  auto lifted = Report(4, 5, 1350, 300);
  figures.OnFrame(static_cast<int>(lifted.size()), lifted.data());
  figures.Refresh();
  EXPECT_EQ(figures.Text(), "No contact\n(no panel size: no mm)");
  figures.CheckBox()->setChecked(false);
  EXPECT_TRUE(label->isHidden());
}

TEST(AccuracyMode, EachTapsErrorInMillimetresAndTheVerdict) {
  QWidget parent;
  parent.resize(800, 600);
  CAccuracyMode mode(&parent, [](double x, double y, QPoint& px) {
    px = QPoint(static_cast<int>(x / 4), static_cast<int>(y / 4));
    return true;
  });
  mode.setGeometry(parent.rect());
  mode.SetPanel(2432, 1408, 190, 110);
  mode.SetOn(true);
  const auto* grid = mode.Grid();
  ASSERT_EQ(grid->Targets().size(), 9u);
  EXPECT_EQ(grid->Current(), 0);
  EXPECT_EQ(mode.StatusText().left(29), "Accuracy: tap target 1 of 9 (");
  // Every target tapped 0.5 mm (6.4 units) to the right, the fifth 3 mm off.
  for (size_t i = 0; i < 9; ++i) {
    const auto& t = grid->Targets()[i];
    const double off = (i == 4 ? 3.0 : 0.5) * 2432 / 190;
    for (uint8_t code : {7, 7, 7, 4}) {
      auto f = Report(code, 0, static_cast<int>(std::lround(t.x + off)), static_cast<int>(t.y));
      mode.OnFrame(static_cast<int>(f.size()), f.data());
    }
  }
  EXPECT_EQ(grid->Current(), -1);
  EXPECT_NEAR(*grid->Targets()[0].errorMm, 0.5, 0.05);
  EXPECT_TRUE(grid->Targets()[0].pass);
  EXPECT_NEAR(*grid->Targets()[4].errorMm, 3.0, 0.05);
  EXPECT_FALSE(grid->Targets()[4].pass);
  EXPECT_EQ(mode.StatusText().left(50), "Accuracy: FAIL - 8 of 9 targets within their limit");
  // The verdict's white text lies on its dark box, readable over the white map.
  QImage img(parent.size(), QImage::Format_ARGB32);
  img.fill(Qt::white);
  mode.render(&img);
  QFont f = mode.font();
  f.setPointSize(12);
  const QRect text = QFontMetrics(f, &img).boundingRect(mode.StatusText()).translated(16, 560);
  int dark = 0;
  for (int y = text.top(); y <= text.bottom(); ++y)
    for (int x = text.left(); x <= text.right(); ++x) dark += qGray(img.pixel(x, y)) < 100;
  EXPECT_GT(dark, text.width() * text.height() / 2);
  mode.Restart();
  EXPECT_EQ(grid->Current(), 0);
  EXPECT_FALSE(grid->Targets()[0].errorMm);

  // Without the panel size no error can be given, and the mode says why.
  mode.SetPanel(2432, 1408, 0, 0);
  EXPECT_NE(mode.StatusText().indexOf("PanelWidthMm"), -1);
}
