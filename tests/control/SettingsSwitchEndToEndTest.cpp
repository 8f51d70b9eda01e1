// The Settings dialog switches the real link between a simulated USB controller and a
// simulated serial controller; the saved file brings the next start up the same way.
#include <gtest/gtest.h>

#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <string>
#include <vector>

#include "AnswerPortDialog.h"
#include "TempDir.h"
#include "common/SimProcess.h"
#include "control/CSettingDialog.h"
#include "control/IAppServices.h"
#include "link/CTransCtrl.h"

namespace {

constexpr int kWaitMs = 10000;

class StatusLine : public IAppServices {
 public:
  void SetLinkStatus(LinkStatus s) override { text = LinkStatusText(s); }
  void PushViewSettings() override {}
  std::string text;
};

// Replies just received count as receiving; settings apply once the line is quiet.
bool Quiet(CTransCtrl& ctrl) {
  return QTest::qWaitFor([&] { return !ctrl.IsReceiving(); }, kWaitMs);
}

bool VersionBecomes(CTransCtrl& ctrl, const std::string& text) {
  return QTest::qWaitFor([&] { return ctrl.FirmwareVersion() == text; }, kWaitMs);
}

TEST(SettingsSwitchEndToEnd, UsbToComAndBackSurvivesARestart) {
  TempDir dir;
  SimProcess usbSim, comSim;
  ASSERT_TRUE(usbSim.Start({"--usb", "--version-text", "SIM USB"}));
  ASSERT_TRUE(comSim.Start({"--serial", "--version-text", "SIM COM"}));
  std::filesystem::create_symlink(comSim.Link(), dir.File("COM3"));
  ::setenv("HIDPIPE_SIM", usbSim.Socket().c_str(), 1);
  ::setenv("VANTREL_COM_DIR", dir.Path().c_str(), 1);

  const std::string ini = dir.File("ZUZIvor.ini");
  TempDir::Write(ini, "[HID]\nVID1=8829\nPID1=258\n");
  StatusLine status;
  {
    CTransCtrl ctrl;
    CSettingsRecord record;
    record.SetFilePath(ini);
    record.LoadSettings(ini, &ctrl);
    ASSERT_EQ(ctrl.Open(kLinkUsb, nullptr), 1);
    ASSERT_TRUE(VersionBecomes(ctrl, "SIM USB"));

    CSettingDialog dlg(record, ctrl, status, nullptr);
    std::vector<QString> messages;
    dlg.showMessage = [&](const QString& text, QMessageBox::Icon) { messages.push_back(text); };
    dlg.show();
    QTest::mouseClick(dlg.findChild<QRadioButton*>("id1021"), Qt::LeftButton);
    AnswerPortDialog(2, 1);  // COM3
    QTest::mouseClick(dlg.findChild<QPushButton*>("id1022"), Qt::LeftButton);
    ASSERT_EQ(record.portNum, 3);
    ASSERT_TRUE(Quiet(ctrl));
    QTest::mouseClick(dlg.findChild<QPushButton*>("id1017"), Qt::LeftButton);  // Save
    EXPECT_TRUE(messages.empty()) << messages.front().toStdString();
    EXPECT_EQ(status.text, "TPC Port: CONNECTED");
    EXPECT_EQ(ctrl.GetLinkType(), kLinkCom);
    ASSERT_TRUE(VersionBecomes(ctrl, "SIM COM"));
    dlg.hide();
  }

  // The next start reads the saved file and opens the serial link again.
  {
    CTransCtrl ctrl;
    CSettingsRecord record;
    record.SetFilePath(ini);
    record.LoadSettings(ini, &ctrl);
    ASSERT_EQ(record.usbCom, 1);
    ASSERT_EQ(ctrl.Open(kLinkCom, &record.comPort), 1);
    ASSERT_TRUE(VersionBecomes(ctrl, "SIM COM"));

    // And back to USB from the dialog alone.
    CSettingDialog dlg(record, ctrl, status, nullptr);
    dlg.showMessage = [](const QString& text, QMessageBox::Icon) {
      ADD_FAILURE() << text.toStdString();
    };
    dlg.show();
    QTest::mouseClick(dlg.findChild<QRadioButton*>("id1020"), Qt::LeftButton);
    ASSERT_TRUE(Quiet(ctrl));
    QTest::mouseClick(dlg.findChild<QPushButton*>("id1"), Qt::LeftButton);  // OK
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(status.text, "TPC Port: CONNECTED");
    EXPECT_EQ(ctrl.GetLinkType(), kLinkUsb);
    EXPECT_TRUE(VersionBecomes(ctrl, "SIM USB"));
  }
}

}  // namespace
