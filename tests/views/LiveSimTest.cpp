// The full-screen map's statistics modes fed by the simulated controller over the real
// USB link: a noisy electrode is the hottest cell of the noise map, an unchanged stream
// differs from its baseline by next to nothing and a finger shows in the difference.
#include <gtest/gtest.h>

#include <QTest>
#include <cmath>
#include <cstring>
#include <fstream>

#include "TestUiDeliverer.h"
#include "common/SimProcess.h"
#include "control/CSettingsRecord.h"
#include "link/CTransCtrl.h"
#include "views/CDrawArea.h"
#include "views/CWndXYDialog.h"
#include "views/CWndXYFullDialog.h"

namespace {

constexpr int kWaitMs = 20000;

int Send(CTransCtrl& ctrl, const char* cmd) {
  return ctrl.SendCmd(cmd, static_cast<int>(std::strlen(cmd)), 1, 1);
}

// Waits for n fresh scans of the full-screen window's statistics.
bool FreshScans(CWndXYFullDialog& full, int n) {
  full.Live().Reset();
  return QTest::qWaitFor([&] { return full.Live().Held() >= n; }, kWaitMs);
}

}  // namespace

TEST(LiveSim, NoiseBaselineAndTouchOnTheFullScreenMap) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb"}));
  setenv("HIDPIPE_SIM", sim.Socket().c_str(), 1);
  const std::string ini = sim.Dir() + "/ZUZIvor.ini";
  std::ofstream(ini) << "[HID]\nVID1=8829\nPID1=258\n";
  CSettingsRecord settings;
  settings.SetFilePath(ini);
  UiDeliverer deliverer;
  CTransCtrl ctrl;
  settings.LoadSettings(ini, &ctrl);
  ctrl.SetDeliverer(&deliverer);
  ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !ctrl.FirmwareVersion().empty(); }, kWaitMs));

  CXYCoordDraw draw;
  CPointStore store;
  CWndXYDialog xy(ctrl, settings, draw, store, nullptr);
  xy.show();
  xy.OnPaint();
  xy.OnBnClickedExpand();
  CWndXYFullDialog* full = xy.FullScreen();
  ASSERT_NE(full, nullptr);
  full->SetCounts(settings.xCount, settings.yCount);

  // Noise: electrode X5 scattered by +-100 is the hottest cell.
  ASSERT_TRUE(sim.Ok("electrode x 5 noisy 100"));
  Send(ctrl, "SEND 024E020C00 ");  // M1 X raw
  ASSERT_TRUE(FreshScans(*full, 50));
  QTest::keyClick(full, Qt::Key_N);
  EXPECT_EQ(full->Live().Hottest(MapMode::kNoise), 5);
  const QImage& img = full->DrawArea()->Image();
  const auto cell = [&](int i) { return img.pixelColor(draw.Column(i + 1) - 2, draw.Row(1) - 2); };
  for (int i = 0; i < settings.xCount; ++i) {
    if (i != 5) {
      EXPECT_GT(cell(i).blue(), cell(5).blue()) << "X" << i;
    }
  }

  // Difference from a baseline of the same sound stream: next to nothing.
  ASSERT_TRUE(sim.Ok("electrode off"));
  // Reports sent before the command may still be on their way: wait until the kept scans
  // are all sound ones.
  ASSERT_TRUE(FreshScans(*full, 100));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return full->Live().MapValues(MapMode::kNoise)[5] < 5 && full->Live().Held() == 100; },
      kWaitMs));
  QTest::keyClick(full, Qt::Key_B);
  ASSERT_TRUE(full->Live().HasBaseline());
  QTest::keyClick(full, Qt::Key_D);
  ASSERT_TRUE(FreshScans(*full, 100));
  for (double d : full->Live().MapValues(MapMode::kDifference)) EXPECT_LT(std::fabs(d), 1.5);
  Send(ctrl, "SEND  024E0180 ");

  // A finger on the signal stream shows in the difference from the untouched baseline.
  Send(ctrl, "SEND 024E022600 ");  // M1 X signal
  ASSERT_TRUE(FreshScans(*full, 50));
  QTest::keyClick(full, Qt::Key_B);
  ASSERT_TRUE(sim.Ok("touch hold 0 1000 500"));
  // Over a window of 20 scans the touched ones soon outweigh any sent before the touch.
  full->Live().SetWindow(20);
  const auto touchShows = [&] {
    const int hot = full->Live().Hottest(MapMode::kDifference);
    return hot >= 0 && full->Live().MapValues(MapMode::kDifference)[static_cast<size_t>(hot)] > 30;
  };
  EXPECT_TRUE(QTest::qWaitFor(touchShows, kWaitMs));
  const int hot = full->Live().Hottest(MapMode::kDifference);
  ASSERT_GE(hot, 0);
  full->DrawModeMap();
  EXPECT_NE(cell(hot), CXYCoordDraw::ValueColour(0));
  ASSERT_TRUE(sim.Ok("touch up all"));
  Send(ctrl, "SEND  024E0180 ");
  xy.OnBnClickedBack();
  ctrl.Close();
}
