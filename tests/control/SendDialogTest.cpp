#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "SendDialogFakeLink.h"
#include "control/CSendDialog.h"
#include "link/CTransCtrl.h"

namespace {

using Frame = std::vector<uint8_t>;
const char kSent[] = ": command was sent.";
const char kNotSent[] = ": ERROR ! Command wasn't sent.";

class SendDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CTransCtrl::ClearPending();
    ctrl_.SetLinkFactory([this](int) { return std::make_unique<SendDialogFakeLink>(log_); });
    ASSERT_EQ(ctrl_.Open(kLinkUsb, nullptr), 1);
    dlg_ = std::make_unique<CSendDialog>(ctrl_, settings_, nullptr);
    dlg_->SetMessageHook([this](QWidget*, const QString& text) { messages_ << text; });
    dlg_->show();
    log_.Take();
  }
  void TearDown() override {
    dlg_.reset();
    ctrl_.Close();
    CTransCtrl::ClearPending();
  }

  QPushButton* Button(int id) {
    return dlg_->findChild<QPushButton*>(QStringLiteral("id%1").arg(id));
  }
  QLineEdit* Edit(int id) { return dlg_->findChild<QLineEdit*>(QStringLiteral("id%1").arg(id)); }
  void Click(int id) { QTest::mouseClick(Button(id), Qt::LeftButton); }
  void Reply(std::vector<uint8_t> frame) {
    dlg_->OnTransCallback(TransFrame::Raw(static_cast<int>(frame.size()), frame.data()));
  }
  std::vector<Frame> Written() { return log_.Take(); }

  SendDialogLinkLog log_;
  CTransCtrl ctrl_;
  CSettingsRecord settings_;
  std::unique_ptr<CSendDialog> dlg_;
  QStringList messages_;
};

TEST_F(SendDialogTest, InitialStateAndCaptions) {
  EXPECT_EQ(dlg_->windowTitle(), "Firmware Control Window");
  EXPECT_EQ(settings_.startup.SendWindow, 1);
  EXPECT_TRUE(ctrl_.IsListenerActive(7));
  EXPECT_EQ(Button(1125)->text(), "Stop\ncoordinates data");
  EXPECT_EQ(Button(1054)->text(), "Output coordinates\nas OS's cursor");
  EXPECT_FALSE(Button(1125)->isChecked());
  EXPECT_FALSE(Button(1054)->isChecked());
  EXPECT_EQ(Button(1051)->text(), "Display M0\n raw data");
  EXPECT_EQ(Button(1060)->text(), "Display M1 Y\n signal data");
  EXPECT_EQ(Edit(1121)->text(), "250");
  EXPECT_EQ(Edit(1123)->text(), "100");
  EXPECT_EQ(Edit(1122)->text(), "10");
}

TEST_F(SendDialogTest, StreamButtonsSendTheirFramesAndStatusLines) {
  const struct {
    int id;
    Frame frame;
    const char* label;
    int m1;
  } cases[] = {
      {1051, {0x02, 0x4E, 0x02, 0x04, 0x00}, "M0 raw data", 0},
      {1050, {0x02, 0x4E, 0x02, 0x05, 0x00}, "M0 offset data", 0},
      {1048, {0x02, 0x4E, 0x02, 0x06, 0x00}, "M0 signal data", 0},
      {1049, {0x02, 0x4E, 0x02, 0x0C, 0x00}, "M1 X raw data", 1},
      {1052, {0x02, 0x4E, 0x02, 0x25, 0x00}, "M1 X offset data", 1},
      {1058, {0x02, 0x4E, 0x02, 0x26, 0x00}, "M1 X signal data", 1},
      {1047, {0x02, 0x4E, 0x02, 0x0D, 0x00}, "M1 Y raw data", 1},
      {1059, {0x02, 0x4E, 0x02, 0x2D, 0x00}, "M1 Y offset data", 1},
      {1060, {0x02, 0x4E, 0x02, 0x2E, 0x00}, "M1 Y signal data", 1},
      {1046, {0x02, 0x4E, 0x01, 0x80}, "Stop data", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Click(1046);  // M1 flag back to 0
    Written();
    Click(c.id);
    EXPECT_EQ(Written(), std::vector<Frame>{c.frame});
    EXPECT_EQ(dlg_->StatusText(), QString(c.label) + kSent);
    EXPECT_EQ(dlg_->M1DisplayFlag(), c.m1);
  }
}

TEST_F(SendDialogTest, RefusedSendsReportNotSentAndStillSetM1Flag) {
  log_.writeResult = -1;
  Click(1049);
  EXPECT_EQ(dlg_->StatusText(), QString("M1 X raw data") + kNotSent);
  EXPECT_EQ(dlg_->M1DisplayFlag(), 1);
  log_.writeResult = 0;
}

TEST_F(SendDialogTest, StreamRepliesDriveTheStatusLine) {
  Reply({0x02, 0x4E, 0x02, 0x04, 0x01});
  EXPECT_EQ(dlg_->StatusText(), "M0 raw data: receiving...");
  Reply({0x02, 0x4E, 0x02, 0x2E, 0x01});
  EXPECT_EQ(dlg_->StatusText(), "M1 Y signal data: receiving...");
  Reply({0x02, 0x4E, 0x02, 0x1D, 0x01});
  EXPECT_EQ(dlg_->StatusText(), "Open/Short Y data: receiving...");
  Reply({0x02, 0x4E, 0x02, 0x0C, 0x00});  // not OK: unchanged
  EXPECT_EQ(dlg_->StatusText(), "Open/Short Y data: receiving...");
  Reply({0x02, 0x4E, 0x01, 0x80, 0x01});
  EXPECT_EQ(dlg_->StatusText(), "Idle.");
  Reply({0x02, 0x4C, 0x02, 0x03, 0x01});
  EXPECT_EQ(dlg_->StatusText(), "Sampling Rate setting: Success.");
  Reply({0x02, 0x4C, 0x02, 0x07, 0x01});
  EXPECT_EQ(dlg_->StatusText(), "Frequency setting: Success.");
  // Ignored: other sub-commands, the panel information, frames too short to hold a status.
  Reply({0x02, 0x4C, 0x02, 0x02, 0x01});
  Reply({0x02, 0x4C, 0x0E, 0x06, 0x26, 0x16, 0x40, 0x00});
  Reply({0x02, 0x4E, 0x01, 0x80});
  Reply({0x02, 0x4C, 0x02, 0x07, 0x00});
  EXPECT_EQ(dlg_->StatusText(), "Frequency setting: Success.");
}

TEST_F(SendDialogTest, VersionReplyFillsVersionAndEnablesM1Buttons) {
  // The reply is taken by the controller while the window is not listening (the receive
  // thread would deliver it on its own thread here); the test hands it over itself.
  ctrl_.UnregisterListener(7);
  {
    std::lock_guard lock(log_.mutex);
    log_.once = {0x02, 0x4C, 0x06, 0x04, 'V', '1', '.', '2', '3'};
  }
  for (int i = 0; i < 500 && ctrl_.FirmwareVersion().empty(); ++i) QTest::qWait(5);
  ASSERT_EQ(ctrl_.FirmwareVersion(), "V1.23");
  ctrl_.RegisterListener(7, 2, dlg_.get());
  Reply({0x02, 0x4C, 0x02, 0x05, 0x01});  // target 1 after Open: M1 enabled
  ctrl_.SendCmd("SEND 024C020500 ", 16, 1, 1);
  Reply({0x02, 0x4C, 0x02, 0x05, 0x01});
  EXPECT_FALSE(Button(1049)->isEnabled());
  Reply({0x02, 0x4C, 0x06, 0x04, 0x00});
  EXPECT_EQ(dlg_->findChild<QLineEdit*>("id1119")->text(), "V1.23");
  for (int id : {1049, 1052, 1058, 1047, 1059, 1060}) EXPECT_TRUE(Button(id)->isEnabled()) << id;

  // A window created once the version is known starts with "Idle.".
  CSendDialog second(ctrl_, settings_, nullptr);
  EXPECT_EQ(second.StatusText(), "Idle.");
}

TEST_F(SendDialogTest, ReportTargetToggleFollowsAcknowledgements) {
  ASSERT_EQ(ctrl_.ReportTarget(), 1);  // the opening sent "to this program"
  Click(1054);
  EXPECT_EQ(Written(), (std::vector<Frame>{{0x02, 0x4C, 0x02, 0x05, 0x00}}));
  EXPECT_EQ(dlg_->StatusText(), QString("Output coordinates as OS's cursor") + kSent);
  EXPECT_EQ(Button(1054)->text(), "Output coordinates\nas OS's cursor");  // until the reply
  Reply({0x02, 0x4C, 0x02, 0x05, 0x01});
  EXPECT_EQ(Button(1054)->text(), "Output coordinates\non XYWindow");
  EXPECT_TRUE(Button(1054)->isChecked());
  EXPECT_EQ(dlg_->StatusText(), "Output coordinates: used as OS's cursor.");
  EXPECT_FALSE(Button(1052)->isEnabled());

  Click(1054);
  EXPECT_EQ(Written(), (std::vector<Frame>{{0x02, 0x4C, 0x02, 0x05, 0x01}}));
  EXPECT_EQ(dlg_->StatusText(), QString("Output coordinates on XYWindow") + kSent);
  Reply({0x02, 0x4C, 0x02, 0x05, 0x00});  // refused: back to the state before
  EXPECT_TRUE(Button(1054)->isChecked() == true);
  EXPECT_EQ(dlg_->StatusText(),
            "Output coordinates on XYWindow: ERROR ! Firmware's response is NOT OK.");
  Reply({0x02, 0x4C, 0x02, 0x05, 0x01});
  EXPECT_EQ(Button(1054)->text(), "Output coordinates\nas OS's cursor");
  EXPECT_FALSE(Button(1054)->isChecked());
  EXPECT_EQ(dlg_->StatusText(), "Output coordinates: drawn on XYWindow.");
  EXPECT_TRUE(Button(1052)->isEnabled());
}

TEST_F(SendDialogTest, SwitchingToCursorStopsM1StreamsFirst) {
  Click(1058);
  Written();
  Click(1054);
  EXPECT_EQ(Written(),
            (std::vector<Frame>{{0x02, 0x4E, 0x01, 0x80}, {0x02, 0x4C, 0x02, 0x05, 0x00}}));
  EXPECT_EQ(dlg_->StatusText(), QString("Output coordinates as OS's cursor") + kSent);
  EXPECT_EQ(dlg_->M1DisplayFlag(), 0);
}

TEST_F(SendDialogTest, ReportPermissionToggleFollowsAcknowledgements) {
  Click(1125);
  EXPECT_EQ(Written(), (std::vector<Frame>{{0x02, 0x4C, 0x02, 0x08, 0x01}}));
  EXPECT_EQ(dlg_->StatusText(), QString("Stop coordinates data") + kSent);
  Reply({0x02, 0x4C, 0x02, 0x08, 0x01});
  EXPECT_EQ(Button(1125)->text(), "Scan\ncoordinates data");
  EXPECT_TRUE(Button(1125)->isChecked());
  EXPECT_EQ(dlg_->StatusText(), "Stop coordinates data: Success.");

  Click(1125);
  EXPECT_EQ(Written(), (std::vector<Frame>{{0x02, 0x4C, 0x02, 0x08, 0x00}}));
  EXPECT_EQ(dlg_->StatusText(), QString("Scan coordinates data") + kSent);
  Reply({0x02, 0x4C, 0x02, 0x08, 0x02});
  EXPECT_TRUE(Button(1125)->isChecked());
  EXPECT_EQ(dlg_->StatusText(), "Scan coordinates data: ERROR ! Firmware's response is NOT OK.");
  Reply({0x02, 0x4C, 0x02, 0x08, 0x01});
  EXPECT_EQ(Button(1125)->text(), "Stop\ncoordinates data");
  EXPECT_FALSE(Button(1125)->isChecked());
}

TEST_F(SendDialogTest, TogglesOnAClosedLinkSendNothingAndSpringBack) {
  log_.state = kLinkClosed;
  Click(1054);  // target is 1: the request was "as OS's cursor"
  EXPECT_FALSE(Button(1054)->isChecked());
  EXPECT_EQ(dlg_->StatusText(), QString("Output coordinates as OS's cursor") + kNotSent);
  Click(1125);  // permission is 0
  EXPECT_FALSE(Button(1125)->isChecked());
  EXPECT_EQ(dlg_->StatusText(), QString("Stop coordinates data") + kNotSent);
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(CTransCtrl::PendingCount(), 0u);
}

TEST_F(SendDialogTest, CalibrationDisablesUntilItsAcknowledgement) {
  const int controls[] = {1046, 1047, 1049, 1052, 1059, 1058, 1060, 1048,
                          1050, 1051, 1053, 1054, 1125, 1055, 1057, 1056};
  Click(1053);
  EXPECT_EQ(Written(), (std::vector<Frame>{{0x02, 0x4C, 0x01, 0x01}}));
  const QString waiting =
      QString("Calibration") + kSent + " Do not touch the glass!       Please wait ...";
  EXPECT_EQ(dlg_->StatusText(), waiting);
  for (int id : controls) EXPECT_FALSE(Button(id)->isEnabled()) << id;
  for (int id : {1121, 1123, 1122}) EXPECT_FALSE(Edit(id)->isEnabled()) << id;

  Reply({0x02, 0x4C, 0x02, 0x01, 0x00});  // failed: enabled again, line kept
  for (int id : controls) EXPECT_TRUE(Button(id)->isEnabled()) << id;
  for (int id : {1121, 1123, 1122}) EXPECT_TRUE(Edit(id)->isEnabled()) << id;
  EXPECT_EQ(dlg_->StatusText(), waiting);

  Click(1053);
  Reply({0x02, 0x4C, 0x02, 0x01, 0x01});
  EXPECT_EQ(dlg_->StatusText(), "Calibration finished.");
  EXPECT_TRUE(Button(1053)->isEnabled());

  log_.writeResult = -1;
  Click(1053);
  EXPECT_EQ(dlg_->StatusText(), QString("Calibration") + kNotSent);
  EXPECT_TRUE(Button(1051)->isEnabled());
}

// A command that meets a busy link is queued, not lost: the window says so, and a queued
// calibration warns and waits like a sent one. A disconnect ends the wait.
TEST_F(SendDialogTest, QueuedCommandsAreReportedAndADisconnectEndsTheCalibrationWait) {
  log_.state = kLinkBusy;  // awaiting a reply
  Click(1051);
  EXPECT_EQ(dlg_->StatusText(), "M0 raw data: command is queued.");
  Click(1053);
  EXPECT_EQ(dlg_->StatusText(),
            "Calibration: command is queued. Do not touch the glass!       Please wait ...");
  EXPECT_FALSE(Button(1053)->isEnabled());
  EXPECT_FALSE(Button(1051)->isEnabled());

  dlg_->OnLinkStatusChanged(false);
  EXPECT_TRUE(Button(1053)->isEnabled());
  EXPECT_TRUE(Edit(1121)->isEnabled());
  EXPECT_EQ(dlg_->StatusText(), "Calibration: ERROR ! The controller was disconnected.");
  log_.state = kLinkIdle;
}

TEST_F(SendDialogTest, CalibrationIsRefusedWhileDataArrives) {
  log_.streaming = true;
  for (int i = 0; i < 1000 && !ctrl_.IsReceiving(); ++i) QTest::qWait(5);
  ASSERT_TRUE(ctrl_.IsReceiving());
  Written();
  Click(1053);
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(dlg_->StatusText(),
            QString("Calibration") + kNotSent +
                "Please press \"Stop data\" and \"Stop coordinates data\" buttons first.");
  EXPECT_TRUE(Button(1053)->isEnabled());
  log_.streaming = false;
}

TEST_F(SendDialogTest, FrequencyValidation) {
  const struct {
    const char* text;
    bool accepted;
    uint8_t lo, hi;
  } m0[] = {{"0", true, 0x00, 0x00},   {"31", false, 0, 0},       {"32", true, 0x20, 0x00},
            {"250", true, 0xFA, 0x00}, {"500", true, 0xF4, 0x01}, {"501", false, 0, 0},
            {"-5", false, 0, 0}};
  for (const auto& c : m0) {
    SCOPED_TRACE(c.text);
    messages_.clear();
    Edit(1121)->setText("77");  // a member value that a refusal must replace
    Click(1055);
    Written();
    Edit(1121)->setText(c.text);
    Click(1055);
    const auto frames = Written();
    if (c.accepted) {
      EXPECT_EQ(frames, (std::vector<Frame>{{0x02, 0x4C, 0x04, 0x07, 0x00, c.lo, c.hi}}));
      EXPECT_EQ(dlg_->StatusText(), QString("M0 Frequency setting") + kSent);
      EXPECT_EQ(messages_.size(), 0);
    } else {
      EXPECT_TRUE(frames.empty());
      EXPECT_EQ(dlg_->M0Freq(), 250);
      EXPECT_EQ(Edit(1121)->text(), "250");
      EXPECT_EQ(dlg_->StatusText(), QString("M0 Frequency setting") + kNotSent);
      ASSERT_EQ(messages_.size(), 1);
      EXPECT_EQ(messages_[0],
                "Please input a value in range [32, 500] KHz, or input \"0\" to use firmware's "
                "default value.");
    }
  }
  Edit(1123)->setText("500");
  Click(1057);
  EXPECT_EQ(Written(), (std::vector<Frame>{{0x02, 0x4C, 0x04, 0x07, 0x01, 0xF4, 0x01}}));
  EXPECT_EQ(dlg_->StatusText(), QString("M1 Frequency setting") + kSent);
  Edit(1123)->setText("31");
  Click(1057);
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(dlg_->M1Freq(), 100);
  EXPECT_EQ(Edit(1123)->text(), "100");

  Edit(1121)->clear();
  Click(1055);
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(dlg_->StatusText(),
            QString("M0 Frequency setting") + kNotSent + "\nPlease check the value.");
  EXPECT_EQ(Edit(1121)->text(), "250");
}

TEST_F(SendDialogTest, SamplingRateValidation) {
  Edit(1122)->setText("1");
  Click(1056);
  EXPECT_EQ(Written(), (std::vector<Frame>{{0x02, 0x4C, 0x02, 0x03, 0x01}}));
  EXPECT_EQ(dlg_->StatusText(), QString("Sampling Rate setting") + kSent);
  Edit(1122)->setText("255");
  Click(1056);
  EXPECT_EQ(Written(), (std::vector<Frame>{{0x02, 0x4C, 0x02, 0x03, 0xFF}}));
  for (const char* bad : {"0", "256"}) {
    SCOPED_TRACE(bad);
    messages_.clear();
    Edit(1122)->setText(bad);
    Click(1056);
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(dlg_->SamplingRate(), 10);
    EXPECT_EQ(Edit(1122)->text(), "10");
    EXPECT_EQ(dlg_->StatusText(), QString("Sampling Rate setting") + kNotSent);
    EXPECT_EQ(messages_, QStringList{"Please input a value in range [1, 255] ms."});
  }
  Edit(1122)->clear();
  Click(1056);
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(dlg_->StatusText(),
            QString("Sampling Rate setting") + kNotSent + "Please check the value.");
}

TEST_F(SendDialogTest, EnterAndEscapeDoNothingAndCloseHides) {
  Written();
  QTest::keyClick(dlg_.get(), Qt::Key_Escape);
  QTest::keyClick(Edit(1121), Qt::Key_Return);
  EXPECT_TRUE(dlg_->isVisible());
  EXPECT_TRUE(Written().empty());
  dlg_->close();
  EXPECT_FALSE(dlg_->isVisible());
  EXPECT_EQ(settings_.startup.SendWindow, 0);
  // Still registered: replies arriving while hidden are applied.
  EXPECT_TRUE(ctrl_.IsListenerActive(7));
  Reply({0x02, 0x4E, 0x01, 0x80, 0x01});
  EXPECT_EQ(dlg_->StatusText(), "Idle.");
}

}  // namespace
