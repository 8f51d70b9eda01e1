// The data views fed by the simulated controller over the real USB link.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <fstream>
#include <mutex>

#include "TestUiDeliverer.h"
#include "common/SimProcess.h"
#include "control/CSettingsRecord.h"
#include "link/CTransCtrl.h"
#include "views/CDrawArea.h"
#include "views/CWndGraphDialog.h"
#include "views/CWndXYDialog.h"
#include "views/CWndXYFullDialog.h"

namespace {

constexpr int kWaitMs = 10000;

class Host : public ITransHost {
 public:
  void ApplyPanelInfo(const PanelInfo&) override {}
  void ShowPanelInfoFailure() override {}
};

// Counts data frames and sees the stop acknowledgement (slot 4 gets what slot 3 gets).
struct FrameCounter : ITransListener {
  int data = 0;
  bool stopAck = false;
  int OnTransCallback(const TransFrame& frame) override {
    const int len = frame.len;
    const uint8_t* b = frame.bytes;
    if (len >= 8 && b[0] == 0x02 && b[1] == 0x4B) ++data;
    if (len >= 4 && b[1] == 0x4E && b[3] == 0x80) stopAck = true;
    return 0;
  }
};

int Send(CTransCtrl& ctrl, const char* cmd) {
  return ctrl.SendCmd(cmd, static_cast<int>(std::strlen(cmd)), 1, 1);
}

}  // namespace

TEST(ViewsEndToEnd, StreamTouchesAndHeatMapFromTheSimulator) {
  QTemporaryDir dir;
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb"}));
  setenv("HIDPIPE_SIM", sim.Socket().c_str(), 1);

  const std::string ini = dir.filePath("ZUZIvor.ini").toStdString();
  std::ofstream(ini) << "[HID]\nVID1=8829\nPID1=258\n";
  CSettingsRecord settings;
  settings.SetFilePath(ini);
  UiDeliverer deliverer;
  Host host;
  FrameCounter counter;
  {
    CTransCtrl ctrl;
    settings.LoadSettings(ini, &ctrl);
    ctrl.SetDeliverer(&deliverer);
    ctrl.SetHost(&host);
    ctrl.RegisterListener(4, 2, &counter);
    ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ctrl.FirmwareVersion().empty(); }, kWaitMs));

    // Wave Window: one log line per data frame.
    CWndGraphDialog wave(ctrl, settings, nullptr);
    wave.SetCounts(ctrl.Panel().xCount, ctrl.Panel().yCount);
    wave.show();
    const QString log = dir.filePath("wave.csv");
    wave.prompts.chooseFile = [&](const QString&) { return log; };
    auto* maxLines = wave.findChild<QLineEdit*>("id1018");
    maxLines->selectAll();
    QTest::keyClicks(maxLines, "100000");
    wave.OnBnClickedLogFile();
    ASSERT_TRUE(wave.IsLogging());
    Send(ctrl, "SEND 024E020400 ");
    ASSERT_TRUE(QTest::qWaitFor([&] { return counter.data >= 20; }, kWaitMs));
    Send(ctrl, "SEND  024E0180 ");
    ASSERT_TRUE(QTest::qWaitFor([&] { return counter.stopAck; }, kWaitMs));
    wave.OnBnClickedLogFile();
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_EQ(text.count(" Axis "), counter.data);
    bool moved = false;
    for (int i = 0; i < ctrl.Panel().xCount; ++i)
      moved |= wave.Graph().Values(CWaveGraph::kAxisX)[i] != 1000;
    EXPECT_TRUE(moved);

    // XY Window: a simulated finger draws a trace.
    CXYCoordDraw draw;
    CPointStore store;
    CWndXYDialog xy(ctrl, settings, draw, store, nullptr);
    xy.show();
    xy.OnPaint();
    ASSERT_TRUE(sim.Ok("touch line 0 200 200 1500 900 300"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return store.Count() >= 5; }, kWaitMs));
    const QImage& img = xy.DrawArea()->Image();
    bool blue = false;
    for (int y = 0; y < img.height() && !blue; ++y)
      for (int x = 0; x < img.width() && !blue; ++x) blue = img.pixelColor(x, y) == Qt::blue;
    EXPECT_TRUE(blue);
    // Let the stroke end (the last report of a stroke has status 0) so that no touch
    // report arrives after the data frames below.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return store.Count() > 0 && store.Slot(store.Count()).status == 0; }, kWaitMs));

    // Full screen: a data stream fills the heat map.
    xy.OnBnClickedExpand();
    ASSERT_NE(xy.FullScreen(), nullptr);
    xy.FullScreen()->OnPaint();
    const int before = counter.data;
    Send(ctrl, "SEND 024E020C00 ");  // M1 X raw: routed to the XY views
    ASSERT_TRUE(QTest::qWaitFor([&] { return counter.data >= before + 10; }, kWaitMs));
    Send(ctrl, "SEND  024E0180 ");
    const QImage& full = xy.FullScreen()->DrawArea()->Image();
    // The window's value timer draws the cells a little after their frames came.
    const auto coloured = [&] {
      for (int i = 0; i < draw.XCount(); ++i) {
        for (int j = 0; j < draw.YCount(); ++j) {
          const QColor c = full.pixelColor(draw.Column(i) + 2, draw.Row(j) + 2);
          if (c != Qt::white && c != QColor(220, 220, 220)) return true;
        }
      }
      return false;
    };
    EXPECT_TRUE(QTest::qWaitFor(coloured, kWaitMs));
    EXPECT_GE(store.Size(), 5);  // the trace drawn before the stream stays
    xy.OnBnClickedBack();
    ctrl.Close();
  }
  EXPECT_TRUE(sim.Stop());
}
