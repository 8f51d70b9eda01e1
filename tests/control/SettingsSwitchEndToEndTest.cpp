// The Settings dialog switches the real link between a simulated USB controller and a
// simulated serial controller; the saved file brings the next start up the same way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <string>
#include <vector>

#include "AnswerPortDialog.h"
#include "TempDir.h"
#include "control/CSettingDialog.h"
#include "control/IAppServices.h"
#include "link/CTransCtrl.h"

extern char** environ;

namespace {

constexpr int kWaitMs = 10000;

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    args.insert(args.begin(), TPCSIM_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    EXPECT_EQ(posix_spawn(&pid_, TPCSIM_PATH, &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
  }
  ~SimProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }

 private:
  pid_t pid_ = -1;
};

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
  const std::string socket = dir.File("tpcsim.sock");
  const std::string com3 = dir.File("COM3");
  SimProcess usbSim({"--usb", "--socket", socket, "--version-text", "SIM USB", "--no-stdin"});
  SimProcess comSim({"--serial", "--link", com3, "--version-text", "SIM COM", "--no-stdin"});
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return std::filesystem::exists(socket) && std::filesystem::exists(com3); }, kWaitMs));
  ::setenv("HIDPIPE_SIM", socket.c_str(), 1);
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
