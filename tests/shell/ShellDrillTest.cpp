// Connection drills of the whole program against tpcsim: start before the controller, plug
// during the start-up box, unplug and close at every stage, on the USB and the serial link.
// Every sequence ends with the status line right and, where a controller is present, the
// version and panel information read again.
#include <gtest/gtest.h>

#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "common/SimProcess.h"
#include "hidpipe/hidpipe.h"
#include "control/CSendDialog.h"
#include "shell/CMainFrame.h"
#include "shell/CVantrelToolApp.h"

namespace {

using Frame = std::vector<uint8_t>;
const Frame kTargetCursor{0x02, 0x4C, 0x02, 0x05, 0x00};

template <typename Pred>
bool WaitFor(Pred done, int ms = 8000) {
  return QTest::qWaitFor(done, ms);
}

const char kConnected[] = "TPC Port: CONNECTED";
const char kDisconnected[] = "TPC Port: DISCONNECTED";

class ShellDrill : public ::testing::Test {
 protected:
  // hidpipe reads HIDPIPE_SIM once per process: one simulator path for every test.
  static void SetUpTestSuite() {
    sim_ = new SimProcess;
    ::setenv("HIDPIPE_SIM", sim_->Socket().c_str(), 1);
    // The library's own threads live as long as the process: started here, before the
    // first count of threads.
    hidOpen(nullptr);
    hidSetNoticeCallback([](int, const char*, void*) {}, nullptr);
    hidSetNoticeCallback(nullptr, nullptr);
  }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override {
    CTransCtrl::ClearPending();
    ASSERT_TRUE(dir_.isValid());
    threadsBefore_ = Threads();
  }
  // No thread is left behind by the program once it is gone.
  void TearDown() override {
    app_.reset();
    CTransCtrl::ClearPending();
    sim_->Stop();
    EXPECT_TRUE(WaitFor([&] { return Threads() <= threadsBefore_; }))
        << Threads() << " threads, " << threadsBefore_ << " before";
  }

  // Threads of this process, Qt's pooled workers left out (Qt keeps them idle for a while
  // after its own work).
  static int Threads() {
    int n = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
      std::ifstream comm(task.path() / "comm");
      std::string name;
      std::getline(comm, name);
      n += name != "Thread (pooled)";
    }
    return n;
  }


  static bool StartSim(bool serial, std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), serial ? "--serial" : "--usb");
    return sim_->Start(extra);
  }

  // Starts the program; onMessage runs for each message box before it is answered.
  void StartApp(bool serial, std::function<void(const QString&)> onMessage = {}) {
    const QString ini = dir_.filePath("ZUZIvor.ini");
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[HID]\nVID1=8829\nPID1=258\nOSType1=2\n");
    if (serial) {
      f.write("[SETTING]\nUsb_Com=1\nPortNum=3\n[SERIAL_PORT]\nBaudRate=115200\nPortPath=");
      f.write(QByteArray::fromStdString(sim_->Link()) + "\n");
    }
    f.close();
    app_ = std::make_unique<CVantrelToolApp>();
    app_->Hooks().messageBox = [this, onMessage](QWidget*, QMessageBox::Icon, const QString& text,
                                                 QMessageBox::StandardButtons) {
      messages_ << text;
      if (onMessage) onMessage(text);
      return QMessageBox::Yes;
    };
    CVantrelToolApp::Options options;
    options.configPath = ini;
    options.singleInstance = false;
    ASSERT_EQ(app_->InitInstance(options), CVantrelToolApp::kStarted);
  }

  QString Status() const { return app_->MainFrame()->StatusText(); }

  // Opens the send window and waits until the version it asks for has come back and the
  // link is quiet again: until then a calibration is refused as "receiving".
  CSendDialog* OpenSendWindowAndSettle() {
    const int versions = Replies(0x04);
    app_->OpenSendWindow();
    if (!WaitFor([&] { return Replies(0x04) > versions && !app_->Ctrl().IsReceiving(); }))
      return nullptr;
    return app_->SendWindow();
  }

  // Replies of the simulator to the version and the panel information requests so far.
  static int Replies(uint8_t sub) {
    int n = 0;
    for (const auto& f : sim_->TraceFrames("D>H")) n += f.size() >= 4 && f[1] == 0x4C && f[3] == sub;
    return n;
  }

  // Connected, and the version and panel information read again since `before` replies.
  bool ConnectedAndRead(int versionsBefore = 0, int panelsBefore = 0) {
    return WaitFor([&] {
      return Status() == kConnected && Replies(0x04) > versionsBefore &&
             Replies(0x06) > panelsBefore;
    });
  }

  static SimProcess* sim_;
  int threadsBefore_ = 0;
  QTemporaryDir dir_;
  std::unique_ptr<CVantrelToolApp> app_;
  QStringList messages_;
};

SimProcess* ShellDrill::sim_ = nullptr;

TEST_F(ShellDrill, UsbControllerStartedDuringTheStartupBoxIsPickedUp) {
  StartApp(false, [](const QString& text) {
    if (text.startsWith("Port open failure!")) {
      ASSERT_TRUE(StartSim(false));
    }
  });
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(ConnectedAndRead()) << Status().toStdString();
}

TEST_F(ShellDrill, UsbControllerThatStopsAndComesBackIsFollowed) {
  StartApp(false);
  EXPECT_TRUE(WaitFor([&] { return Status() == kDisconnected; }));
  ASSERT_TRUE(StartSim(false));
  EXPECT_TRUE(ConnectedAndRead()) << Status().toStdString();
  ASSERT_TRUE(sim_->Stop());
  EXPECT_TRUE(WaitFor([&] { return Status() == kDisconnected; }));
  ASSERT_TRUE(StartSim(false));
  EXPECT_TRUE(ConnectedAndRead()) << Status().toStdString();
}

TEST_F(ShellDrill, SerialControllerStartedAfterTheProgramIsPickedUp) {
  StartApp(true);
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_EQ(Status(), kDisconnected);
  ASSERT_TRUE(StartSim(true));
  EXPECT_TRUE(ConnectedAndRead()) << Status().toStdString();
}

TEST_F(ShellDrill, SerialControllerUnpluggedAndReplugged) {
  ASSERT_TRUE(StartSim(true));
  StartApp(true);
  ASSERT_TRUE(ConnectedAndRead()) << Status().toStdString();
  const int versions = Replies(0x04), panels = Replies(0x06);
  ASSERT_TRUE(sim_->Ok("unplug"));
  EXPECT_TRUE(WaitFor([&] { return Status() == kDisconnected; })) << Status().toStdString();
  ASSERT_TRUE(sim_->Ok("plug"));
  EXPECT_TRUE(ConnectedAndRead(versions, panels)) << Status().toStdString();
}

// The panel information box must not hold the receive thread: replies keep being read
// while it is up.
TEST_F(ShellDrill, PanelInformationBoxLeavesTheLinkRunning) {
  ASSERT_TRUE(StartSim(false));
  ASSERT_TRUE(sim_->Ok("badlen on"));  // the replies claim more bytes than they carry
  bool readWhileUp = false;
  StartApp(false, [&](const QString& text) {
    if (text != "Fail to read the panel information") return;
    EXPECT_TRUE(sim_->Ok("badlen off"));
    EXPECT_TRUE(sim_->Ok("version-text WHILE BOX"));
    const char cmd[] = "SEND 024C020400 ";
    app_->Ctrl().SendCmd(cmd, int(sizeof cmd - 1), 1, 1);
    readWhileUp = WaitFor([&] { return app_->Ctrl().FirmwareVersion() == "WHILE BOX"; }, 3000);
  });
  ASSERT_TRUE(WaitFor([&] { return messages_.contains("Fail to read the panel information"); }));
  EXPECT_TRUE(readWhileUp);
  EXPECT_EQ(Status(), kConnected);
}

// Unplugged during a calibration and during a stream, then plugged again; then closed
// while the stream runs: the coordinates are handed back to the cursor on the way out.
TEST_F(ShellDrill, UnplugDuringCalibrationAndStreamThenCloseWhileStreaming) {
  ASSERT_TRUE(StartSim(false, {"--calibrate-delay", "60000"}));
  StartApp(false);
  ASSERT_TRUE(ConnectedAndRead());
  CSendDialog* send = OpenSendWindowAndSettle();
  ASSERT_NE(send, nullptr);
  auto button = [&](int id) { return send->findChild<QPushButton*>(QString("id%1").arg(id)); };
  QTest::mouseClick(button(1053), Qt::LeftButton);
  ASSERT_FALSE(button(1053)->isEnabled()) << send->StatusText().toStdString();
  ASSERT_TRUE(sim_->Ok("unplug"));
  EXPECT_TRUE(WaitFor([&] { return Status() == kDisconnected && button(1053)->isEnabled(); }));

  int versions = Replies(0x04), panels = Replies(0x06);
  ASSERT_TRUE(sim_->Ok("plug"));
  ASSERT_TRUE(ConnectedAndRead(versions, panels));
  QTest::mouseClick(button(1051), Qt::LeftButton);  // M0 raw data
  ASSERT_TRUE(WaitFor([&] { return app_->Ctrl().IsReceiving(); }));
  ASSERT_TRUE(sim_->Ok("unplug"));
  EXPECT_TRUE(WaitFor([&] { return Status() == kDisconnected; }));
  versions = Replies(0x04), panels = Replies(0x06);
  ASSERT_TRUE(sim_->Ok("plug"));
  ASSERT_TRUE(ConnectedAndRead(versions, panels));

  QTest::mouseClick(button(1051), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return app_->Ctrl().IsReceiving(); }));
  bool closed = false;
  QObject::connect(app_->MainFrame(), &CMainFrame::closed, [&] { closed = true; });
  app_->MainFrame()->close();  // "Do you really want to close?" is answered Yes
  ASSERT_TRUE(WaitFor([&] { return closed; }));
  EXPECT_TRUE(WaitFor([&] {
    const auto in = sim_->TraceFrames("H>D");
    return !in.empty() && in.back() == kTargetCursor;
  })) << sim_->TraceTail();
}

// Closed while a calibration waits for its answer: the hand-back queued behind it must
// still go out before the program ends.
TEST_F(ShellDrill, CloseDuringCalibrationStillHandsTheCoordinatesBack) {
  ASSERT_TRUE(StartSim(false, {"--calibrate-delay", "60000"}));
  StartApp(false);
  ASSERT_TRUE(ConnectedAndRead());
  CSendDialog* send = OpenSendWindowAndSettle();
  ASSERT_NE(send, nullptr);
  QTest::mouseClick(send->findChild<QPushButton*>("id1053"), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return sim_->Command("status").find("calibrating=1") != std::string::npos; }));
  bool closed = false;
  QObject::connect(app_->MainFrame(), &CMainFrame::closed, [&] { closed = true; });
  app_->MainFrame()->close();
  ASSERT_TRUE(WaitFor([&] { return closed; }));
  app_.reset();
  EXPECT_TRUE(WaitFor([&] { return sim_->Command("status").find("target=0") != std::string::npos; }))
      << sim_->TraceTail();
}

// Unplugged while the opening commands wait for answers, then plugged again.
TEST_F(ShellDrill, UnplugDuringTheOpeningThenReplug) {
  ASSERT_TRUE(StartSim(false));
  ASSERT_TRUE(sim_->Ok("silence on"));  // the opening's commands go unanswered
  StartApp(false);
  ASSERT_TRUE(sim_->Ok("unplug"));
  EXPECT_TRUE(WaitFor([&] { return Status() == kDisconnected; }));
  ASSERT_TRUE(sim_->Ok("silence off"));
  ASSERT_TRUE(sim_->Ok("plug"));
  EXPECT_TRUE(ConnectedAndRead()) << Status().toStdString();
}

// Closed while the panel information box is up: the program still ends cleanly and hands
// the coordinates back.
TEST_F(ShellDrill, CloseWhileThePanelInformationBoxIsUp) {
  ASSERT_TRUE(StartSim(false));
  ASSERT_TRUE(sim_->Ok("badlen on"));
  bool closed = false;
  StartApp(false, [&](const QString& text) {
    if (text != "Fail to read the panel information") return;
    EXPECT_TRUE(sim_->Ok("badlen off"));
    QObject::connect(app_->MainFrame(), &CMainFrame::closed, [&] { closed = true; });
    app_->MainFrame()->close();
  });
  ASSERT_TRUE(WaitFor([&] { return closed; }));
  app_.reset();
  EXPECT_TRUE(WaitFor([&] {
    const auto in = sim_->TraceFrames("H>D");
    return !in.empty() && in.back() == kTargetCursor;
  })) << sim_->TraceTail();
}

}  // namespace
