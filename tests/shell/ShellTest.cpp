#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLocalServer>
#include <QLockFile>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QThread>
#include <memory>
#include <thread>

#include "ShellFakeLink.h"
#include "control/CSendDialog.h"
#include "shell/CAboutDlg.h"
#include "shell/CHelpDialog.h"
#include "shell/CMainFrame.h"
#include "shell/CSingleInstance.h"
#include "shell/CUiDeliverer.h"
#include "shell/CVantrelToolApp.h"
#include "shell/StatusIcons.h"
#include "views/CWndGraphDialog.h"
#include "views/CWndXYDialog.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

namespace {

using Frame = std::vector<uint8_t>;
const Frame kGetVersion{0x02, 0x4C, 0x02, 0x04, 0x00};
const Frame kStopStreams{0x02, 0x4E, 0x01, 0x80};
const Frame kTargetCursor{0x02, 0x4C, 0x02, 0x05, 0x00};

template <typename Pred>
bool WaitFor(Pred done, int ms = 5000) {
  return QTest::qWaitFor(done, ms);
}

bool Contains(const std::vector<Frame>& frames, const Frame& f) {
  return std::find(frames.begin(), frames.end(), f) != frames.end();
}

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CTransCtrl::ClearPending();
    ASSERT_TRUE(dir_.isValid());
    iniPath_ = dir_.filePath("ZUZIvor.ini");
  }
  void TearDown() override {
    app_.reset();
    CTransCtrl::ClearPending();
  }

  void WriteIni(const QByteArray& text) {
    QFile f(iniPath_);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
  QByteArray ReadIni() {
    QFile f(iniPath_);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  void Start() {
    app_ = std::make_unique<CVantrelToolApp>();
    app_->Ctrl().SetLinkFactory(
        [this](int type) { return std::make_unique<ShellFakeLink>(log_, type); });
    app_->Hooks().messageBox = [this](QWidget*, QMessageBox::Icon, const QString& text,
                                      QMessageBox::StandardButtons) {
      messages_ << text;
      return answer_;
    };
    app_->Hooks().execDialog = [this](QDialog&) {
      ++dialogsRun_;
      return 1;
    };
    CVantrelToolApp::Options options;
    options.configPath = iniPath_;
    options.helpPath = dir_.filePath("HelpFile.txt");
    options.singleInstance = false;
    options.deviceNotices = false;
    ASSERT_EQ(app_->InitInstance(options), CVantrelToolApp::kStarted);
    frame_ = app_->MainFrame();
  }

  QTemporaryDir dir_;
  QString iniPath_;
  ShellLinkLog log_;
  std::unique_ptr<CVantrelToolApp> app_;
  CMainFrame* frame_ = nullptr;
  QStringList messages_;
  QMessageBox::StandardButton answer_ = QMessageBox::Yes;
  int dialogsRun_ = 0;
};

TEST_F(ShellTest, TitleMenusAndConnectedStatus) {
  Start();
  EXPECT_EQ(frame_->windowTitle(), "VantrelTool version 2. 4. 6. 3");
  EXPECT_EQ(frame_->StatusText(), "TPC Port: CONNECTED");
  EXPECT_EQ(frame_->StatusIconId(), kIconConnected);
  EXPECT_TRUE(messages_.isEmpty());

  QStringList popups;
  for (QAction* a : frame_->menuBar()->actions()) popups << a->text();
  EXPECT_EQ(popups, (QStringList{"File(&F)", "Windows(&W)", "Tools(&T)", "Help(&H)"}));
  const struct {
    int id;
    const char* caption;
    bool enabled;
  } items[] = {
      {32777, "Settings (&S)", true},
      {57665, "Exit (&X)", true},
      {32801, "Record session... (&R)", true},
      {32802, "Open capture... (&O)", true},
      {32773, "XY Window (&Z)", true},
      {32775, "Wave Window (&W)", true},
      {32783, "Test Panel (&T)", false},
      {32793, "Mechanics Control Window (&M)", false},
      {32790, "Command Window (&C)", false},
      {32795, "Debug Window (&D)", false},
      {32796, "Firmware Control Window (&F)", true},
      {32799, "Lot Analyzer (&A)", false},
      {32781, "Help (&H)", true},
      {57664, "Version (&V)", true},
  };
  for (const auto& item : items) {
    QAction* a = frame_->findChild<QAction*>(QStringLiteral("cmd%1").arg(item.id));
    ASSERT_NE(a, nullptr) << item.id;
    EXPECT_EQ(a->text(), item.caption);
    EXPECT_EQ(a->isEnabled(), item.enabled) << item.id;
  }
  // The opening wrote the version, target, permission and panel information requests.
  EXPECT_TRUE(WaitFor([&] { return log_.Take().size() > 0; }));
}

TEST_F(ShellTest, PortOpenFailureNamesTheFirstTwoIdentities) {
  WriteIni("[HID]\nVID1=8829\nPID1=258\nVID2=1\nPID2=4660\n");
  log_.openResult = 0;
  Start();
  EXPECT_EQ(frame_->StatusText(), "TPC Port: DISCONNECTED");
  EXPECT_EQ(frame_->StatusIconId(), kIconDisconnected);
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_EQ(messages_[0],
            "Port open failure!\nVID 0x227d, PID 0x0102: Device was not found.\n"
            "VID 0x0001, PID 0x1234: Device was not found.\n");
}

TEST_F(ShellTest, SerialConfigurationOpensTheSerialLink) {
  WriteIni("[SETTING]\nUsb_Com=1\nPortNum=3\n[SERIAL_PORT]\nBaudRate=115200\n");
  Start();
  std::lock_guard lock(log_.mutex);
  ASSERT_EQ(log_.opened, std::vector<int>{kLinkCom});
  EXPECT_EQ(log_.lastSerial.portNum, 3);
  EXPECT_EQ(log_.lastSerial.baudRate, 115200u);
}

TEST_F(ShellTest, ConnectProbesUsbAndClosesOnFailure) {
  Start();
  log_.Take();
  EXPECT_TRUE(frame_->Connect());
  EXPECT_EQ(log_.Take(), std::vector<Frame>{kGetVersion});
  {
    std::lock_guard lock(log_.mutex);
    EXPECT_EQ(log_.opened.size(), 1u);
  }

  // Device gone: the probe fails, the link is closed.
  log_.writeResult = -1;
  EXPECT_FALSE(frame_->Connect());
  EXPECT_EQ(app_->Ctrl().GetLinkState(), kLinkClosed);
  EXPECT_EQ(app_->Ctrl().GetLinkType(), kLinkNone);

  // Device back: a device change opens the link again and the status line follows.
  log_.writeResult = 0;
  frame_->SetLinkStatus(LinkStatus::kDisconnected);
  frame_->OnDeviceChange();
  EXPECT_TRUE(frame_->IsDeviceTimerActive());
  ASSERT_TRUE(WaitFor([&] { return frame_->StatusText() == "TPC Port: CONNECTED"; }));
  std::lock_guard lock(log_.mutex);
  EXPECT_EQ(log_.opened, (std::vector<int>{kLinkUsb, kLinkUsb}));
}

TEST_F(ShellTest, ConnectWithoutDeviceStaysDisconnected) {
  log_.openResult = 0;
  Start();
  messages_.clear();
  frame_->OnDeviceChange();
  ASSERT_TRUE(WaitFor([&] { return !frame_->IsDeviceTimerActive(); }));
  EXPECT_EQ(frame_->StatusText(), "TPC Port: DISCONNECTED");
  EXPECT_TRUE(messages_.isEmpty());  // the failure message belongs to start-up only
}

TEST_F(ShellTest, ConnectReopensTheSerialLink) {
  WriteIni("[SETTING]\nUsb_Com=1\nPortNum=5\n");
  Start();
  EXPECT_TRUE(frame_->Connect());
  log_.openResult = 0;
  EXPECT_FALSE(frame_->Connect());
  std::lock_guard lock(log_.mutex);
  EXPECT_EQ(log_.opened, (std::vector<int>{kLinkCom, kLinkCom, kLinkCom}));
  EXPECT_EQ(log_.lastSerial.portNum, 5);
}

TEST_F(ShellTest, ClosingWhileQuietHandsCoordinatesBackAndCloses) {
  Start();
  QSignalSpy closed(frame_, &CMainFrame::closed);
  log_.Take();
  frame_->close();
  EXPECT_EQ(closed.count(), 1);
  EXPECT_EQ(log_.Take(), std::vector<Frame>{kTargetCursor});
  EXPECT_TRUE(messages_.isEmpty());
}

TEST_F(ShellTest, ClosingASerialLinkSendsNothing) {
  WriteIni("[SETTING]\nUsb_Com=1\n");
  Start();
  QSignalSpy closed(frame_, &CMainFrame::closed);
  ASSERT_TRUE(WaitFor([&] { return !log_.Take().empty(); }));
  WaitFor([&] { return CTransCtrl::PendingCount() == 0; });
  log_.Take();
  frame_->close();
  EXPECT_EQ(closed.count(), 1);
  EXPECT_TRUE(log_.Take().empty());
}

TEST_F(ShellTest, ClosingWhileStreamingAsksAndNoKeepsTheProgram) {
  Start();
  log_.streaming = true;
  ASSERT_TRUE(WaitFor([&] { return app_->Ctrl().IsReceiving(); }));
  QSignalSpy closed(frame_, &CMainFrame::closed);
  log_.Take();
  answer_ = QMessageBox::No;
  frame_->close();
  EXPECT_EQ(
      messages_,
      QStringList{"Program is communicating with the firmware. Do you really want to close?"});
  EXPECT_EQ(closed.count(), 0);
  EXPECT_TRUE(frame_->isVisible());
  EXPECT_TRUE(log_.Take().empty());
  log_.streaming = false;
}

TEST_F(ShellTest, ClosingWhileStreamingWaitsUntilTheDataStops) {
  Start();
  ASSERT_TRUE(WaitFor([&] { return CTransCtrl::PendingCount() == 0; }));
  log_.holdBusy = true;
  log_.streaming = true;
  ASSERT_TRUE(WaitFor([&] { return app_->Ctrl().IsReceiving(); }));
  app_->Ctrl().SetLinkState(kLinkBusy);  // a reply is awaited: the commands are queued
  QSignalSpy closed(frame_, &CMainFrame::closed);
  log_.Take();
  answer_ = QMessageBox::Yes;
  frame_->close();
  EXPECT_EQ(closed.count(), 0);
  EXPECT_TRUE(frame_->IsCloseTimerActive());
  EXPECT_EQ(CTransCtrl::PendingCount(), 2u);
  QTest::qWait(300);
  EXPECT_EQ(closed.count(), 0);  // still receiving
  log_.streaming = false;
  ASSERT_TRUE(WaitFor([&] { return closed.count() == 1; }));
  const auto frames = log_.Take();
  EXPECT_TRUE(Contains(frames, kStopStreams));
  EXPECT_TRUE(Contains(frames, kTargetCursor));
}

TEST_F(ShellTest, StartupWindowsReopenAndAreRecordedAtExit) {
  WriteIni("[STARTUP]\nSendWindow=1\nTestPanel=1\n");
  Start();
  ASSERT_TRUE(WaitFor([&] { return app_->IsSendWindowVisible(); }));
  EXPECT_EQ(app_->WaveWindow(), nullptr);
  EXPECT_EQ(app_->XYWindow(), nullptr);
  frame_->UpdateMenuChecks();
  EXPECT_TRUE(frame_->Action(CMainFrame::ID_SEND_WINDOW)->isChecked());
  EXPECT_FALSE(frame_->Action(CMainFrame::ID_WAVE_WINDOW)->isChecked());

  // Opened from the menu: the Wave Window; the Firmware Control Window closed by the user.
  frame_->Action(CMainFrame::ID_WAVE_WINDOW)->trigger();
  ASSERT_NE(app_->WaveWindow(), nullptr);
  EXPECT_TRUE(frame_->Action(CMainFrame::ID_WAVE_WINDOW)->isChecked());
  app_->SendWindow()->close();
  frame_->UpdateMenuChecks();
  EXPECT_FALSE(frame_->Action(CMainFrame::ID_SEND_WINDOW)->isChecked());
  app_->ExitInstance();
  const QByteArray ini = ReadIni();
  EXPECT_TRUE(ini.contains("SendWindow=0")) << ini.constData();
  EXPECT_TRUE(ini.contains("WaveWindow=1")) << ini.constData();
  EXPECT_TRUE(ini.contains("TestPanel=1")) << ini.constData();
}

// Closed with the close box and opened again from the menu: recorded as open at exit.
TEST_F(ShellTest, ToolWindowsReopenedFromTheMenuAreRecordedAsOpen) {
  Start();
  for (int id : {CMainFrame::ID_WAVE_WINDOW, CMainFrame::ID_XY_WINDOW, CMainFrame::ID_SEND_WINDOW})
    frame_->Action(id)->trigger();
  ASSERT_NE(app_->WaveWindow(), nullptr);
  ASSERT_NE(app_->XYWindow(), nullptr);
  ASSERT_NE(app_->SendWindow(), nullptr);
  for (QWidget* w :
       {static_cast<QWidget*>(app_->WaveWindow()), static_cast<QWidget*>(app_->XYWindow()),
        static_cast<QWidget*>(app_->SendWindow())})
    w->close();
  for (int id : {CMainFrame::ID_WAVE_WINDOW, CMainFrame::ID_XY_WINDOW, CMainFrame::ID_SEND_WINDOW})
    frame_->Action(id)->trigger();
  app_->ExitInstance();
  const QByteArray ini = ReadIni();
  EXPECT_TRUE(ini.contains("WaveWindow=1")) << ini.constData();
  EXPECT_TRUE(ini.contains("XYWindow=1")) << ini.constData();
  EXPECT_TRUE(ini.contains("SendWindow=1")) << ini.constData();
}

// A hidden Wave Window goes on counting and logging: another panel's counts reach it too.
TEST_F(ShellTest, HiddenWaveWindowTakesTheNewPanelsCountsAndSavesReachTheStatusLine) {
  Start();
  frame_->Action(CMainFrame::ID_WAVE_WINDOW)->trigger();
  CWndGraphDialog* wave = app_->WaveWindow();
  ASSERT_NE(wave, nullptr);
  wave->close();
  ASSERT_FALSE(wave->isVisible());
  PanelInfo info;
  info.xCount = 20;
  info.yCount = 14;
  info.resolution = 64;
  app_->ApplyPanelInfo(info);
  EXPECT_EQ(wave->Graph().Count(CWaveGraph::kAxisX), 20);
  EXPECT_EQ(wave->Graph().Count(CWaveGraph::kAxisY), 14);
  // A view's save is named in the main window's status line.
  wave->prompts.Saved(QStringLiteral("/tmp/pic.png"));
  EXPECT_EQ(frame_->NoticeText(), "Saved /tmp/pic.png");
}

TEST_F(ShellTest, OpenWindowsThatCannotBeRecordedAtExitAreReported) {
  Start();
  app_->Settings().SetFilePath(dir_.filePath("gone/ZUZIvor.ini").toStdString());
  app_->ExitInstance();
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0].startsWith("The settings could not be saved to ")) << messages_[0].toStdString();
  EXPECT_TRUE(messages_[0].contains("gone/ZUZIvor.ini")) << messages_[0].toStdString();
}

TEST_F(ShellTest, ToolWindowsReopenAsTheSameObjects) {
  Start();
  frame_->Action(CMainFrame::ID_SEND_WINDOW)->trigger();
  CSendDialog* first = app_->SendWindow();
  ASSERT_NE(first, nullptr);
  first->close();
  frame_->Action(CMainFrame::ID_SEND_WINDOW)->trigger();
  EXPECT_EQ(app_->SendWindow(), first);
  EXPECT_TRUE(first->isVisible());

  frame_->Action(CMainFrame::ID_XY_WINDOW)->trigger();
  ASSERT_NE(app_->XYWindow(), nullptr);
  EXPECT_TRUE(app_->IsXYWindowVisible());
  frame_->Action(CMainFrame::ID_APP_ABOUT)->trigger();
  frame_->Action(CMainFrame::ID_SETTINGS)->trigger();
  EXPECT_EQ(dialogsRun_, 2);
  EXPECT_NE(app_->SettingDialog(), nullptr);
}

TEST_F(ShellTest, HelpWindowShowsTheFileOrThePlaceholder) {
  Start();
  frame_->Action(CMainFrame::ID_HELP)->trigger();
  ASSERT_NE(app_->HelpWindow(), nullptr);
  EXPECT_EQ(app_->HelpWindow()->windowTitle(), "Help Window");
  EXPECT_EQ(app_->HelpWindow()->Text(), CHelpDialog::kPlaceholder);
  EXPECT_EQ(app_->HelpWindow()->pos().x(), 0);

  const QString path = dir_.filePath("help.txt");
  auto write = [&](const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  };
  write("");
  EXPECT_EQ(CHelpDialog(nullptr, path).Text(), "");
  write("first\r\nsecond\r\n");
  EXPECT_EQ(CHelpDialog(nullptr, path).Text(), "first\nsecond\n");
  write("caf\xe9");  // not UTF-8: one byte per character
  EXPECT_EQ(CHelpDialog(nullptr, path).Text(), QString::fromLatin1("caf\xe9"));
}

TEST(ShellWindows, ShippedHelpTellsWhatWasAddedInLinesThatFitTheWindow) {
  CHelpDialog help(nullptr, QStringLiteral(VT_SOURCE_DIR "/HelpFile.txt"));
  const QString text = help.Text();
  // The added section comes after the original text.
  const qsizetype added = text.indexOf("9. Recording, replay and analysis");
  ASSERT_GT(added, text.indexOf("8. Closing"));
  for (const char* topic : {"Record session...", "Open capture...", "Statistics", "N noise",
                            "Ctrl+L", "Space freezes", "Ctrl+S", "replacing"})
    EXPECT_GE(text.indexOf(QString::fromLatin1(topic), added), 0) << topic;
  auto* edit = help.findChild<QPlainTextEdit*>("id1039");
  ASSERT_NE(edit, nullptr);
  help.show();
  const QFontMetrics fm(edit->font());
  const int room = edit->viewport()->width() - 2 * int(edit->document()->documentMargin());
  for (const QString& line : text.split('\n'))
    EXPECT_LE(fm.horizontalAdvance(line), room) << line.toStdString();
}

TEST(ShellWindows, VersionWindowNamesTheProductVersion) {
  CAboutDlg dlg(nullptr);
  EXPECT_EQ(dlg.windowTitle(), "Version Window");
  auto* first = dlg.findChild<QLabel*>("versionText");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->text(), "VantrelTool Version 2. 4. 6. 3");
}

TEST(ShellInstance, SecondStartRaisesTheFirst) {
  const QString name = QStringLiteral("VantrelToolTest%1").arg(QCoreApplication::applicationPid());
  CSingleInstance first(name);
  ASSERT_EQ(first.Start(), CSingleInstance::kFirst);
  QSignalSpy raised(&first, &CSingleInstance::raiseRequested);
  std::atomic<int> second{-1};
  std::thread other([&] {
    CSingleInstance copy(name);
    second = copy.Start();
  });
  ASSERT_TRUE(WaitFor([&] { return second != -1; }));
  other.join();
  EXPECT_EQ(second, CSingleInstance::kAlreadyRunning);
  EXPECT_TRUE(WaitFor([&] { return raised.count() == 1; }));
}

// The lock is what makes a copy the one instance: a copy that holds it but does not
// answer yet (starting at the same moment) still keeps a second one out. Only then is
// the DFU tool looked for.
TEST(ShellInstance, LockHeldByAnotherCopyKeepsASecondOutAndOnlyThenTheDfuToolCounts) {
  QLocalServer dfu;
  QLocalServer::removeServer(CSingleInstance::ServerName("DFU Tool"));
  ASSERT_TRUE(dfu.listen(CSingleInstance::ServerName("DFU Tool")));
  const QString name = QStringLiteral("VantrelToolDfu%1").arg(QCoreApplication::applicationPid());
  auto startOther = [&] {
    std::atomic<int> result{-1};
    std::thread other([&] { result = CSingleInstance(name).Start(); });
    EXPECT_TRUE(WaitFor([&] { return result != -1; }));
    other.join();
    return result.load();
  };
  {
    QLockFile held(CSingleInstance::LockPath(name));
    ASSERT_TRUE(held.tryLock(0));
    EXPECT_EQ(startOther(), CSingleInstance::kDfuToolRunning);
    dfu.close();
    EXPECT_EQ(startOther(), CSingleInstance::kAlreadyRunning);
    ASSERT_TRUE(dfu.listen(CSingleInstance::ServerName("DFU Tool")));
  }
  EXPECT_EQ(startOther(), CSingleInstance::kFirst);  // alone: the DFU tool is no reason
}

TEST(ShellDeliverer, RunsOnTheUiThreadAndStopsAtShutdown) {
  CUiDeliverer deliverer;
  QThread* ui = QThread::currentThread();
  std::atomic<int> ranOn{0};
  std::atomic<int> result{-1};
  std::thread receiver(
      [&] { result = deliverer.RunSync([&] { ranOn = QThread::currentThread() == ui ? 1 : 2; }); });
  ASSERT_TRUE(WaitFor([&] { return result != -1; }));
  receiver.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ranOn, 1);

  // A hand-over waiting when the program shuts down is released without running.
  std::atomic<bool> ran{false};
  std::thread late([&] { result = deliverer.RunSync([&] { ran = true; }); });
  // No events are processed here: whether the call was queued or not, Shutdown refuses it.
  deliverer.Shutdown();
  late.join();
  EXPECT_FALSE(ran);
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(deliverer.RunSync([&] { ran = true; }));
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran);
}

}  // namespace
