// The calibration window on the offscreen platform, with a control that has no device.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <memory>

#include "calib/app/TformCalibration.h"
#include "calib/framework/TKorvikClock.h"
#include "calib/framework/TKorvikTouchPanelControl.h"

namespace {

using Bytes = std::vector<uint8_t>;

class FormCalibrationTest : public ::testing::Test {
 protected:
  FormCalibrationTest()
      : Form([this] {
          ++Created;
          return std::make_unique<TKorvikTouchPanelControl>(nullptr, nullptr, true);
        }) {}
  ~FormCalibrationTest() override { KorvikSetTickSource(nullptr); }

  QPushButton* Button() { return Form.findChild<QPushButton*>("btnCalibrate"); }
  QLabel* Label() { return Form.findChild<QLabel*>("labTPInfo"); }
  TKorvikTouchPanel* Panel() { return Form.Control()->GetTouchPanel(0); }
  void AddPanel(uint16_t pid = 0x0102) {
    Form.Control()->AddTouchPanel("DefaultPanel", std::make_unique<TKorvikTouchPanel>(
                                                      Form.Control(), "panel", true, 0x227D, pid));
  }
  // What the transfer thread does with the next command: take it and mark it sent.
  Bytes SendNext() {
    TKorvikUsbCommand* command = Panel()->NextTransaction();
    if (!command) return {};
    command->Transaction()->SetState(TKorvikUsbTransaction::StateSent);
    return command->Data();
  }
  // An answer from the device, dispatched by the control's tick.
  void Answer(const Bytes& frame) {
    Bytes buffer(1024, 0);
    std::copy(frame.begin(), frame.end(), buffer.begin());
    Form.Control()->HandleMessage(0, Form.Control()->MsgFactory()->CreateUsbMessage(1, buffer));
    Form.Control()->TimerTick();
  }
  // Answers every queued opening command with an acknowledgement.
  void AnswerOpening() {
    for (Bytes sent = SendNext(); !sent.empty(); sent = SendNext()) {
      if (sent[0] == 0xF1)
        Answer({0xF3, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
      else if (sent[3] == 0x04)
        Answer({0x02, 0x4C, 0x07, 0x04, 'V', '2', 0, 'x', 'y'});
      else if (sent[3] == 0x06)
        Answer({0x02, 0x4C, 0x0E, 0x06, 38, 22, 0, 0, 1, 0x00, 0x10, 0x00, 0x10, 0, 0, 0});
      else
        Answer({sent[0], sent[1], 0x02, sent[3], 0x01});
    }
  }

  int Created = 0;
  TformCalibration Form;
};

TEST_F(FormCalibrationTest, WindowLooksAsSpecifiedAndButtonStatesCarryTheirCaptions) {
  EXPECT_EQ(Form.windowTitle(), "KORVIK Lumora  2013.01.30.01");
  EXPECT_EQ(Form.size(), QSize(404, 108));
  EXPECT_TRUE(Form.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(Form.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(Form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(Button()->width(), Form.width() - 4);
  EXPECT_EQ(Label()->text(), "TP info");

  const struct {
    uint8_t State;
    const char* Caption;
    bool Enabled;
  } states[] = {{1, "Calibrate", true}, {2, "Calibrating", false}, {0, "Not Ready", false}};
  for (const auto& s : states) {
    Form.SetCalibrateState(s.State);
    EXPECT_EQ(Button()->text(), s.Caption);
    EXPECT_EQ(Button()->isEnabled(), s.Enabled);
  }
}

TEST_F(FormCalibrationTest, ActivationCreatesOneControlAndOpensAnApplicationPanel) {
  Form.FormActivate();
  Form.FormActivate();
  EXPECT_EQ(Created, 1);

  AddPanel();
  // The opening goes out one command at a time, in this order.
  std::vector<Bytes> sent;
  for (int i = 0; i < 6; ++i) {
    sent.push_back(SendNext());
    const Bytes& f = sent.back();
    if (f[0] == 0xF1)
      Answer({0xF3, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    else if (f[3] == 0x04)
      Answer({0x02, 0x4C, 0x07, 0x04, 'V', '2', 0, 'x', 'y'});
    else
      Answer({f[0], f[1], 0x02, f[3], 0x01});
  }
  const std::vector<Bytes> expected = {
      {0xF1, 0x01, 0, 0, 0, 0, 0, 0}, {0x02, 0x4C, 0x02, 0x08, 0x01},
      {0x02, 0x4E, 0x01, 0x80},       {0x02, 0x4C, 0x02, 0x05, 0x01},
      {0x02, 0x4C, 0x02, 0x04, 0x00}, {0x02, 0x4C, 0x02, 0x06, 0x00}};
  EXPECT_EQ(sent, expected);
  // The version text stops at its first zero byte.
  EXPECT_EQ(Label()->text(), "V2");
  EXPECT_EQ(Button()->text(), "Calibrate");
}

TEST_F(FormCalibrationTest, DfuPanelGetsOnlyTheBootSelectQuery) {
  Form.FormActivate();
  AddPanel(0x0104);
  EXPECT_EQ(SendNext(), (Bytes{0xF1, 0x01, 0, 0, 0, 0, 0, 0}));
  Answer({0xF3, 0x01, 0x01, 0x01, 0x01, 0x00, 0x01, 0x01});
  EXPECT_TRUE(SendNext().empty());
  EXPECT_EQ(Button()->text(), "Not Ready");
}

TEST_F(FormCalibrationTest, CalibrationAnswersTimeoutAndRemoval) {
  Form.FormActivate();
  AddPanel();
  AnswerOpening();
  ASSERT_EQ(Button()->text(), "Calibrate");

  const Bytes permitOn = {0x02, 0x4C, 0x02, 0x08, 0x00};
  // Success: back to "Calibrate", reporting permitted again.
  QTest::mouseClick(Button(), Qt::LeftButton);
  EXPECT_EQ(Button()->text(), "Calibrating");
  EXPECT_EQ(SendNext(), (Bytes{0x02, 0x4C, 0x01, 0x01}));
  Answer({0x02, 0x4C, 0x02, 0x01, 0x01});
  EXPECT_EQ(Button()->text(), "Calibrate");
  EXPECT_EQ(SendNext(), permitOn);
  Answer({0x02, 0x4C, 0x02, 0x08, 0x01});

  // Failure (status 0): "Not Ready".
  QTest::mouseClick(Button(), Qt::LeftButton);
  SendNext();
  Answer({0x02, 0x4C, 0x02, 0x01, 0x00});
  EXPECT_EQ(Button()->text(), "Not Ready");
  EXPECT_EQ(SendNext(), permitOn);
  Answer({0x02, 0x4C, 0x02, 0x08, 0x01});

  // No answer within 60 s: as a failure, "Not Ready" and reporting permitted again.
  Form.SetCalibrateState(TformCalibration::StateCalibrate);
  std::atomic<uint32_t> now{1000};
  KorvikSetTickSource([&] { return now.load(); });
  QTest::mouseClick(Button(), Qt::LeftButton);
  SendNext();
  now += 59000;
  Form.Control()->TimerTick();
  EXPECT_EQ(Button()->text(), "Calibrating");
  now += 1001 + 100;
  Form.Control()->TimerTick();
  EXPECT_EQ(Button()->text(), "Not Ready");
  EXPECT_FALSE(Button()->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Panel()->PendingCount() > 0; }, 5000));
  EXPECT_EQ(SendNext(), permitOn);

  // Unplugging: "Not Ready" and "TP info".
  Form.Control()->RemoveTouchPanel("DefaultPanel");
  EXPECT_EQ(Button()->text(), "Not Ready");
  EXPECT_EQ(Label()->text(), "TP info");
}

TEST_F(FormCalibrationTest, CalibrateWithoutAPanelReturnsToNotReady) {
  Form.FormActivate();
  Form.SetCalibrateState(1);
  QTest::mouseClick(Button(), Qt::LeftButton);
  EXPECT_EQ(Button()->text(), "Not Ready");
}

TEST_F(FormCalibrationTest, FirstCloseHandsCoordinatesBackAndTheWindowClosesSoonAfter) {
  Form.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form.Control() != nullptr; }, 5000));
  AddPanel();
  AnswerOpening();

  EXPECT_FALSE(Form.close());  // refused: the hand-back goes out first
  EXPECT_TRUE(Form.isVisible());
  EXPECT_EQ(SendNext(), (Bytes{0x02, 0x4C, 0x02, 0x05, 0x00}));
  EXPECT_FALSE(Form.close());  // permission is not back on yet
  EXPECT_EQ(SendNext(), (Bytes{0x02, 0x4C, 0x02, 0x08, 0x00}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Form.isVisible(); }, 5000));
  EXPECT_EQ(Form.Control(), nullptr);
}

TEST_F(FormCalibrationTest, CloseWaitsForTheHandBackButNotForever) {
  Form.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form.Control() != nullptr; }, 5000));
  AddPanel();
  AnswerOpening();
  // Nothing takes the commands: a second request is refused too, and the window still
  // closes when the wait is over.
  EXPECT_FALSE(Form.close());
  EXPECT_FALSE(Form.close());
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return !Form.isVisible(); }, 3 * TformCalibration::CloseWaitMs));
  EXPECT_EQ(Form.Control(), nullptr);
}

TEST_F(FormCalibrationTest, SecondCloseWithinTheDelayIsAccepted) {
  Form.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form.Control() != nullptr; }, 5000));
  EXPECT_FALSE(Form.close());
  EXPECT_TRUE(Form.close());
  EXPECT_FALSE(Form.isVisible());
  EXPECT_EQ(Created, 1);
}

}  // namespace
