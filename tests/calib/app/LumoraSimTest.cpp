// Lumora's real control and window against the tpcsim simulator, offscreen.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "calib/app/TformCalibration.h"
#include "calib/framework/TKorvikClock.h"
#include "calib/framework/TKorvikTouchPanelControl.h"
#include "common/SimProcess.h"

namespace {

// Host-to-device frames of the trace as hex text, from frame `first` on.
QStringList HostFrames(const SimProcess& sim, int first = 0) {
  QStringList frames;
  for (const std::vector<uint8_t>& frame : sim.TraceFrames("H>D")) {
    QStringList bytes;
    for (uint8_t b : frame) bytes << QString::asprintf("%02X", b);
    frames << bytes.join(' ');
  }
  return frames.mid(first);
}
// Joined, for readable comparisons.
std::string Text(const QStringList& frames) {
  return frames.join(" | ").toStdString();
}

// The millisecond counter with a jump the test can add, so a 60 s timeout needs no waiting.
std::atomic<uint32_t> gSkipMs{0};
uint32_t SkippingClock() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) +
         gSkipMs.load();
}

const QStringList kOpening = {"F1 01 00 00 00 00 00 00", "02 4C 02 08 01", "02 4E 01 80",
                              "02 4C 02 05 01",          "02 4C 02 04 00", "02 4C 02 06 00"};

class LumoraSimTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Sim = new SimProcess;
#ifdef LUMORA_SIM_DFU
    ASSERT_TRUE(
        Sim->Start({"--usb", "--calibrate-delay", "50", "--pid", "0x0104", "--iface", "0"}));
#else
    ASSERT_TRUE(Sim->Start({"--usb", "--calibrate-delay", "50"}));
#endif
    // The HID library reads the socket path once, when the first control opens it.
    ::setenv("HIDPIPE_SIM", Sim->Socket().c_str(), 1);
    KorvikSetTickSource(&SkippingClock);
  }
  static void TearDownTestSuite() {
    KorvikSetTickSource(nullptr);
    delete Sim;
  }

  QPushButton* Button() {
    return Form.findChild<QPushButton*>("btnCalibrate");
  }
  QLabel* Label() {
    return Form.findChild<QLabel*>("labTPInfo");
  }
  bool WaitCaption(const QString& caption) {
    return QTest::qWaitFor([&] { return Button()->text() == caption; }, 10000);
  }
  QStringList FramesFrom(int first) {
    return HostFrames(*Sim, first);
  }
  bool WaitHostFrames(int count) {
    return QTest::qWaitFor([&] { return HostFrames(*Sim).size() >= count; }, 10000);
  }

  static SimProcess* Sim;
  TformCalibration Form;
};

SimProcess* LumoraSimTest::Sim = nullptr;

#ifndef LUMORA_SIM_DFU

TEST_F(LumoraSimTest, OpenCalibrateReplugAndClose) {
  Form.show();
  // Opening: the six commands in order, then the version and "Calibrate".
  ASSERT_TRUE(WaitCaption("Calibrate"));
  EXPECT_EQ(Label()->text(), "TPCSIM 1.0.0");
  ASSERT_TRUE(WaitHostFrames(kOpening.size()));
  EXPECT_EQ(Text(HostFrames(*Sim)), Text(kOpening));

  // Calibration acknowledged with success, then reporting permitted again.
  int mark = HostFrames(*Sim).size();
  QTest::mouseClick(Button(), Qt::LeftButton);
  EXPECT_EQ(Button()->text(), "Calibrating");
  ASSERT_TRUE(WaitHostFrames(mark + 2));
  EXPECT_EQ(Text(FramesFrom(mark)), "02 4C 01 01 | 02 4C 02 08 00");
  ASSERT_TRUE(WaitCaption("Calibrate"));

  // Calibration failed (status 0): "Not Ready" until the controller comes back.
  ASSERT_TRUE(Sim->Ok("calibrate-result fail"));
  QTest::mouseClick(Button(), Qt::LeftButton);
  ASSERT_TRUE(WaitCaption("Not Ready"));

  // Unplug and replug: "TP info", then the opening again.
  ASSERT_TRUE(Sim->Ok("unplug"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Label()->text() == "TP info"; }, 10000));
  EXPECT_EQ(Button()->text(), "Not Ready");
  mark = HostFrames(*Sim).size();
  ASSERT_TRUE(Sim->Ok("plug"));
  ASSERT_TRUE(WaitCaption("Calibrate"));
  EXPECT_EQ(Label()->text(), "TPCSIM 1.0.0");
  ASSERT_TRUE(WaitHostFrames(mark + kOpening.size()));
  EXPECT_EQ(Text(FramesFrom(mark)), Text(kOpening));

  // No answer: after 60 s (skipped on the clock) "Not Ready", as for a failure.
  ASSERT_TRUE(Sim->Ok("calibrate-result never"));
  mark = HostFrames(*Sim).size();
  QTest::mouseClick(Button(), Qt::LeftButton);
  ASSERT_TRUE(WaitHostFrames(mark + 1));
  // The frame reaches the simulator's trace before the form may have taken its send time:
  // the clock is moved on until the wait has run out, not once.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        if (Button()->text() == "Not Ready") return true;
        gSkipMs += 61000;
        return false;
      },
      10000));
  ASSERT_TRUE(WaitHostFrames(mark + 2));
  EXPECT_EQ(Text(FramesFrom(mark)), "02 4C 01 01 | 02 4C 02 08 00");

  // Closing hands the coordinates back to the cursor and permits reporting.
  mark = HostFrames(*Sim).size();
  EXPECT_FALSE(Form.close());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Form.isVisible(); }, 10000));
  EXPECT_EQ(Form.Control(), nullptr);
  ASSERT_TRUE(WaitHostFrames(mark + 2));
  EXPECT_EQ(Text(FramesFrom(mark)), "02 4C 02 05 00 | 02 4C 02 08 00");
}

#else

TEST_F(LumoraSimTest, BootLoaderGetsOnlyTheBootSelectQuery) {
  Form.show();
  ASSERT_TRUE(WaitHostFrames(1));
  // Give the panel time to send more if it wrongly would: wait for the answer to be
  // dispatched (the panel's mode comes from it), then for the next worker passes.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return Form.Control() && Form.Control()->GetTouchPanel(0) &&
               Form.Control()->GetTouchPanel(0)->PendingCount() == 0;
      },
      10000));
  EXPECT_EQ(Text(HostFrames(*Sim)), "F1 01 00 00 00 00 00 00");
  EXPECT_EQ(Button()->text(), "Not Ready");
  EXPECT_EQ(Label()->text(), "TP info");
}

#endif

}  // namespace
