// A session of the whole program against tpcsim (a data stream and two fingers drawing)
// recorded with --record, then played back twice: inside the program (--replay) and by
// tpcsim --replay over the USB socket. The Wave and XY logs of both replays equal the
// live ones apart from their time columns.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "capture/CaptureFile.h"
#include "common/SimProcess.h"
#include "shell/CCaptureControl.h"
#include "shell/CMainFrame.h"
#include "shell/CReplayBar.h"
#include "shell/CVantrelToolApp.h"
#include "views/CWndGraphDialog.h"
#include "views/CWndXYDialog.h"

namespace {

template <typename Pred>
bool WaitFor(Pred done, int ms = 15000) {
  return QTest::qWaitFor(done, ms);
}

const char kStartM0[] = "SEND 024E020400 ";
const char kStopStreams[] = "SEND  024E0180 ";
const char kCalibrate[] = "SEND 024C020100 ";

int Send(CTransCtrl& ctrl, const char* cmd) {
  return ctrl.SendCmd(cmd, static_cast<int>(std::strlen(cmd)), 1, 1);
}

// Short replies (slot 7), in order.
struct Replies : ITransListener {
  std::vector<std::vector<uint8_t>> got;
  int OnTransCallback(const TransFrame& frame) override {
    const int len = frame.len;
    const uint8_t* b = frame.bytes;
    got.emplace_back(b, b + len);
    return 0;
  }
  bool Has(const std::vector<uint8_t>& f) const {
    return std::find(got.begin(), got.end(), f) != got.end();
  }
};

// A log's lines without their first (time) column.
QStringList WithoutTime(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {QStringLiteral("cannot read ") + path};
  QStringList out;
  for (const QByteArray& line : f.readAll().split('\n')) {
    const int comma = line.indexOf(',');
    out << QString::fromLatin1(comma < 0 ? line : line.mid(comma));
  }
  return out;
}

// True when the last multi-touch report of the trace says every finger is gone.
bool TouchesEnded(const SimProcess& sim) {
  const auto frames = sim.TraceFrames("D>H");
  for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
    if (it->size() < 4 || (*it)[1] != 0x4D) continue;
    for (size_t e = 4; e + 6 <= it->size(); e += 6) {
      if ((*it)[e] != 0) return false;
    }
    return true;
  }
  return false;
}

class CaptureReplay : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = new SimProcess;
    ::setenv("HIDPIPE_SIM", sim_->Socket().c_str(), 1);
  }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }
  void TearDown() override {
    app_.reset();
    CTransCtrl::ClearPending();
    sim_->Stop();
  }

  void StartApp(const QString& record, const QString& replay) {
    const QString ini = dir_.filePath("ZUZIvor.ini");
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[HID]\nVID1=8829\nPID1=258\nOSType1=2\n");
    f.close();
    app_ = std::make_unique<CVantrelToolApp>();
    app_->Hooks().messageBox = [this](QWidget*, QMessageBox::Icon, const QString& text,
                                      QMessageBox::StandardButtons) {
      messages_ << text;
      return QMessageBox::Ok;
    };
    CVantrelToolApp::Options options;
    options.configPath = ini;
    options.singleInstance = false;
    options.recordPath = record;
    options.replayPath = replay;
    ASSERT_EQ(app_->InitInstance(options), CVantrelToolApp::kStarted);
    replies_ = Replies{};
    app_->Ctrl().RegisterListener(7, 2, &replies_);
  }

  // Opens the Wave and XY windows and starts their logs into <prefix>wave.csv, xy.csv.
  void StartLogs(const QString& prefix) {
    app_->OpenWaveWindow();
    app_->OpenXYWindow();
    CWndGraphDialog* wave = app_->WaveWindow();
    CWndXYDialog* xy = app_->XYWindow();
    xy->OnPaint();  // the XY window takes points once it has drawn itself
    const QString wavePath = dir_.filePath(prefix + "wave.csv");
    const QString xyPath = dir_.filePath(prefix + "xy.csv");
    wave->prompts.chooseFile = [wavePath](const QString&) { return wavePath; };
    xy->prompts.chooseFile = [xyPath](const QString&) { return xyPath; };
    auto* maxLines = wave->findChild<QLineEdit*>("id1018");
    maxLines->selectAll();
    QTest::keyClicks(maxLines, "100000");
    wave->OnBnClickedLogFile();
    xy->OnBnClickedLogFile();
    ASSERT_TRUE(wave->IsLogging() && xy->IsLogging());
  }
  void StopLogs() {
    app_->WaveWindow()->OnBnClickedLogFile();
    app_->XYWindow()->OnBnClickedLogFile();
  }
  int Lines(const QString& name) const { return int(WithoutTime(dir_.filePath(name)).size()); }

  static SimProcess* sim_;
  QTemporaryDir dir_;
  std::unique_ptr<CVantrelToolApp> app_;
  QStringList messages_;
  Replies replies_;
};

SimProcess* CaptureReplay::sim_ = nullptr;

TEST_F(CaptureReplay, RecordedSessionReplaysIntoTheSameLogsBothWays) {
  const QString capture = dir_.filePath("session.capture.zst");

  // ---- live session, recorded from the start
  ASSERT_TRUE(sim_->Start({"--usb", "--rate", "300"}));
  StartApp(capture, QString());
  ASSERT_TRUE(WaitFor([&] { return !app_->Ctrl().FirmwareVersion().empty(); }));
  EXPECT_TRUE(app_->MainFrame()->RecordText().startsWith("REC "))
      << messages_.join("|").toStdString();
  StartLogs("live-");
  Send(app_->Ctrl(), kStartM0);
  ASSERT_TRUE(WaitFor([&] { return Lines("live-wave.csv") > 60; }));
  ASSERT_TRUE(sim_->Ok("touch line 0 200 200 1500 900 400"));
  ASSERT_TRUE(sim_->Ok("touch line 1 2000 1200 600 300 400"));
  ASSERT_TRUE(WaitFor([&] { return TouchesEnded(*sim_); }));
  Send(app_->Ctrl(), kStopStreams);
  // The acknowledgement comes after every frame before it: all of them are logged.
  ASSERT_TRUE(WaitFor([&] { return replies_.Has({0x02, 0x4E, 0x02, 0x80, 0x01}); }));
  StopLogs();
  app_->OnCommand(CMainFrame::ID_RECORD_SESSION);  // the same item stops the recording
  EXPECT_FALSE(app_->IsRecording());
  EXPECT_TRUE(app_->MainFrame()->RecordText().isEmpty());
  // The status line names the file written.
  EXPECT_TRUE(app_->MainFrame()->NoticeText().contains(capture))
      << app_->MainFrame()->NoticeText().toStdString();
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  app_.reset();
  ASSERT_TRUE(sim_->Stop());

  const capture::ParseResult rec = capture::LoadCapture(capture.toStdString());
  ASSERT_TRUE(rec.Ok()) << rec.error;
  EXPECT_EQ(rec.header.firmware, "TPCSIM 1.0.0");
  EXPECT_EQ(rec.header.link, capture::LinkKind::kUsb);
  EXPECT_NE(rec.header.linkDetail.find("vid=227D pid=0102"), std::string::npos);
  const QStringList liveWave = WithoutTime(dir_.filePath("live-wave.csv"));
  const QStringList liveXY = WithoutTime(dir_.filePath("live-xy.csv"));
  ASSERT_GT(liveXY.size(), 20);

  // ---- replay inside the program, as fast as possible
  StartApp(QString(), capture);
  // Opened off the user interface thread.
  ASSERT_TRUE(WaitFor([&] { return app_->Captures().Player() != nullptr; }));
  capture::CReplayPlayer* player = app_->Captures().Player();
  ASSERT_NE(app_->Captures().Bar(), nullptr);
  ASSERT_TRUE(WaitFor([&] { return app_->Ctrl().FirmwareVersion() == "TPCSIM 1.0.0"; }));
  // The status line says what plays, never that a port is connected.
  EXPECT_TRUE(app_->MainFrame()->StatusText().startsWith("PLAYING session"))
      << app_->MainFrame()->StatusText().toStdString();
  StartLogs("replay-");
  player->SetSpeed(capture::CReplayPlayer::kAsFastAsPossible);
  app_->Captures().Bar()->findChild<QPushButton*>("replayPlay")->click();
  ASSERT_TRUE(WaitFor([&] {
    return player->AtEnd() && Lines("replay-wave.csv") >= liveWave.size() &&
           Lines("replay-xy.csv") >= liveXY.size();
  })) << player->AtEnd()
      << " " << player->SentCount() << "/" << player->DeviceFrameCount() << " "
      << Lines("replay-wave.csv") << "/" << liveWave.size() << " " << Lines("replay-xy.csv") << "/"
      << liveXY.size() << " playing " << player->IsPlaying();
  // A command the capture does not hold is acknowledged negatively and shown.
  Send(app_->Ctrl(), kCalibrate);
  EXPECT_TRUE(WaitFor([&] { return replies_.Has({0x02, 0x4C, 0x02, 0x01, 0x00}); }));
  EXPECT_TRUE(WaitFor([&] {
    return app_->Captures().Bar()->Message().contains("answered negatively: 02 4C 02 01 00");
  }));
  StopLogs();
  EXPECT_EQ(WithoutTime(dir_.filePath("replay-wave.csv")), liveWave);
  EXPECT_EQ(WithoutTime(dir_.filePath("replay-xy.csv")), liveXY);
  app_.reset();

  // ---- replay by tpcsim: the program connects to it as to a controller
  StartApp(QString(), QString());  // no controller yet
  StartLogs("sim-");
  ASSERT_TRUE(sim_->Start({"--usb", "--replay", capture.toStdString(), "--speed", "4"}));
  ASSERT_TRUE(WaitFor(
      [&] {
        return Lines("sim-wave.csv") >= liveWave.size() && Lines("sim-xy.csv") >= liveXY.size();
      },
      30000));
  StopLogs();
  EXPECT_EQ(app_->Ctrl().FirmwareVersion(), "TPCSIM 1.0.0");
  EXPECT_EQ(WithoutTime(dir_.filePath("sim-wave.csv")), liveWave);
  EXPECT_EQ(WithoutTime(dir_.filePath("sim-xy.csv")), liveXY);
}

TEST_F(CaptureReplay, BadCaptureIsReportedWithItsLineAndWhatCameBeforeIsPlayed) {
  const QString path = dir_.filePath("bad.capture");
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(
      "# vantrel-capture 1\n# link: usb\n0 H>D 5 024C020400\n5000 D>H 5 024C020441\n"
      "10000 D>H 8 024B0500000001E8\n20000 D>H 8 024B05000001\n");
  f.close();
  StartApp(QString(), path);
  ASSERT_TRUE(WaitFor([&] { return !messages_.isEmpty(); }));
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0].contains("line 6: 8 bytes announced, 12 hex digits found"))
      << messages_[0].toStdString();
  EXPECT_TRUE(messages_[0].contains("The 3 frames before it are replayed."));
  ASSERT_NE(app_->Captures().Player(), nullptr);
  EXPECT_EQ(app_->Captures().Player()->DeviceFrameCount(), 1u);
  EXPECT_TRUE(WaitFor([&] { return app_->Ctrl().FirmwareVersion() == "A"; }));
  // The link's own opening queries, not in the capture, are answered but not named.
  ASSERT_TRUE(WaitFor([&] { return app_->Captures().Player()->UnansweredCount() >= 3; }));
  app_->Captures().ShowUnanswered();
  EXPECT_FALSE(app_->Captures().Bar()->Message().contains("answered negatively"))
      << app_->Captures().Bar()->Message().toStdString();

  // The bar: time, speed, one frame at a time.
  CReplayBar* bar = app_->Captures().Bar();
  capture::CReplayPlayer* player = app_->Captures().Player();
  EXPECT_EQ(bar->findChild<QLabel*>("replayTime")->text(), "00:00.000 / 00:00.010");
  auto* speed = bar->findChild<QComboBox*>("replaySpeed");
  speed->setCurrentIndex(speed->count() - 1);
  EXPECT_EQ(speed->currentText(), "As fast as possible");
  EXPECT_EQ(player->Speed(), capture::CReplayPlayer::kAsFastAsPossible);
  speed->setCurrentIndex(0);
  EXPECT_EQ(player->Speed(), 0.25);
  bar->findChild<QPushButton*>("replayStep")->click();
  EXPECT_TRUE(WaitFor([&] { return player->SentCount() == 1 && player->AtEnd(); }));
  bar->Refresh();
  EXPECT_EQ(bar->findChild<QLabel*>("replayTime")->text(), "00:00.010 / 00:00.010");
  EXPECT_FALSE(bar->findChild<QPushButton*>("replayStep")->isEnabled());

  // A click on the slider's groove moves a tenth of the capture; Loop plays it over again.
  player->Seek(0);
  bar->Refresh();
  bar->findChild<QSlider*>("replayPosition")->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_TRUE(WaitFor([&] { return player->Position() >= 900; })) << player->Position();
  struct Count : ITransListener {
    int frames = 0;
    int OnTransCallback(const TransFrame&) override { return ++frames, 0; }
  } data;
  app_->Ctrl().RegisterListener(4, 2, &data);
  bar->findChild<QCheckBox*>("replayLoop")->setChecked(true);
  speed->setCurrentIndex(speed->count() - 1);
  player->Seek(0);
  player->Play();
  EXPECT_TRUE(WaitFor([&] { return data.frames >= 3; })) << data.frames;
  player->Pause();
  app_->Ctrl().UnregisterListener(4);

  // Not a capture at all: nothing to play, the configured link is opened instead.
  app_.reset();
  messages_.clear();
  QFile g(dir_.filePath("empty.capture"));
  ASSERT_TRUE(g.open(QIODevice::WriteOnly));
  g.close();
  StartApp(QString(), g.fileName());
  ASSERT_TRUE(WaitFor([&] { return !messages_.isEmpty(); }));
  EXPECT_TRUE(messages_[0].startsWith("Cannot replay")) << messages_[0].toStdString();
  EXPECT_EQ(app_->Captures().Player(), nullptr);

  // A recording that cannot be written is refused with a message naming the file.
  messages_.clear();
  EXPECT_FALSE(app_->Captures().StartRecording("/dev/full"));
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0].contains("cannot write /dev/full")) << messages_[0].toStdString();
  EXPECT_FALSE(app_->IsRecording());
  EXPECT_TRUE(app_->MainFrame()->RecordText().isEmpty());

  // A name typed without the extension gets it, and an existing file is asked for.
  messages_.clear();
  app_->Hooks().chooseFile = [this](QWidget*, bool, const QString&, const QString&) {
    return dir_.filePath("rec1");
  };
  app_->OpenWaveWindow();
  app_->Captures().OnRecordCommand();
  ASSERT_TRUE(app_->IsRecording());
  // Recording shows in the windows' titles, over the main window's status line.
  EXPECT_TRUE(WaitFor([&] { return app_->WaveWindow()->windowTitle() == "Wave Window - REC"; }));
  app_->Captures().OnRecordCommand();
  EXPECT_EQ(app_->WaveWindow()->windowTitle(), "Wave Window");
  EXPECT_TRUE(QFile::exists(dir_.filePath("rec1.capture")));
  EXPECT_FALSE(QFile::exists(dir_.filePath("rec1")));
  app_->Captures().OnRecordCommand();  // the user's "No" to replacing it
  EXPECT_FALSE(app_->IsRecording());
  EXPECT_TRUE(messages_.join(";").contains("rec1.capture already exists"))
      << messages_.join(";").toStdString();
}

TEST_F(CaptureReplay, CaptureRecordedMidSessionTakesVersionAndPanelFromItsHeader) {
  const QString path = dir_.filePath("mid.capture");
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(
      "# vantrel-capture 1\n# link: usb\n# firmware: TPCSIM 2.0\n"
      "# panel: x=20 y=12 resolution=64 xrange=1280 yrange=768\n"
      "10000 D>H 8 024B0500000001E8\n");
  f.close();
  StartApp(QString(), path);
  ASSERT_TRUE(WaitFor([&] { return app_->Ctrl().FirmwareVersion() == "TPCSIM 2.0"; }));
  ASSERT_TRUE(WaitFor([&] { return app_->Ctrl().Panel().xCount == 20; }));
  EXPECT_EQ(app_->Ctrl().Panel().yCount, 12);
  // The controller's panel wins; the settings keep what they configure, and a window
  // opened now takes the panel in force.
  EXPECT_EQ(app_->Ctrl().Geometry().configured.xCount, 38);
  EXPECT_EQ(app_->Settings().xCount, 38);
  app_->OpenWaveWindow();
  EXPECT_EQ(app_->WaveWindow()->Graph().Count(CWaveGraph::kAxisX), 20);
  EXPECT_EQ(app_->WaveWindow()->Graph().Count(CWaveGraph::kAxisY), 12);
  app_->Captures().Bar()->Refresh();
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join("|").toStdString();
  EXPECT_FALSE(app_->Captures().Bar()->Message().contains("answered negatively"))
      << app_->Captures().Bar()->Message().toStdString();
  app_->Captures().CloseReplay();
  EXPECT_FALSE(app_->MainFrame()->StatusText().startsWith("PLAYING"));
}

// A capture long enough to be indexed while it plays: a data frame every 125 us.
TEST_F(CaptureReplay, ReplayBarShowsIndexingAndFollowsTheSliderWhileDragged) {
  const QString path = dir_.filePath("long.capture");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    std::string text = "# vantrel-capture 1\n# link: usb vid=227D pid=0102\n";
    const uint8_t data[8] = {0x02, 0x4B, 0x05, 0x00, 0x01, 0x00, 0x01, 0xE8};
    for (int i = 0; i < 200000; ++i) capture::AppendFrameLine(text, i * 125, capture::Direction::kDeviceToHost, data, 8);
    f.write(text.data(), qint64(text.size()));
  }
  StartApp(QString(), path);
  ASSERT_TRUE(WaitFor([&] { return app_->Captures().Bar() != nullptr; }));
  CReplayBar* bar = app_->Captures().Bar();
  capture::CReplayPlayer* player = app_->Captures().Player();
  auto* indexing = bar->findChild<QLabel*>("replayIndexing");
  ASSERT_TRUE(WaitFor([&] { return indexing->text().isEmpty() && player->Duration() > 0; }));
  EXPECT_EQ(player->Duration(), int64_t{199999} * 125);
  // Dragging: the replay moves while the button is still held.
  auto* slider = bar->findChild<QSlider*>("replayPosition");
  slider->setSliderDown(true);
  slider->setSliderPosition(5000);
  EXPECT_TRUE(WaitFor([&] {
    return std::abs(player->Position() - player->Duration() / 2) <= 125;
  })) << player->Position();
  slider->setSliderPosition(2500);
  EXPECT_TRUE(WaitFor([&] {
    return std::abs(player->Position() - player->Duration() / 4) <= 125;
  })) << player->Position();
  slider->setSliderDown(false);
}

// The program itself: a folder is not a capture, and with nobody to see a message box
// (the offscreen platform) what it says goes to standard error.
TEST_F(CaptureReplay, ProgramNamesAFolderAndReportsABadCaptureOnStandardError) {
  QProcess tool;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_RUNTIME_DIR", dir_.path());
  env.insert("TMPDIR", dir_.path());
  tool.setProcessEnvironment(env);
  tool.start(VANTRELTOOL_PATH, {"--replay", dir_.path()});
  ASSERT_TRUE(tool.waitForFinished(30000));
  EXPECT_EQ(tool.exitCode(), 2);
  EXPECT_TRUE(tool.readAllStandardError().contains("is a folder, not a capture file"));

  const QString bad = dir_.filePath("bad.capture");
  QFile f(bad);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("# vantrel-capture 1\n");
  f.close();
  const QString ini = dir_.filePath("tool.ini");
  tool.start(VANTRELTOOL_PATH, {"--config", ini, "--replay", bad});
  QByteArray err;
  EXPECT_TRUE(WaitFor([&] {
    err += tool.readAllStandardError();
    return err.contains("it holds no frames");
  })) << err.toStdString();
  EXPECT_TRUE(err.contains("Cannot replay")) << err.toStdString();
  tool.kill();
  tool.waitForFinished(10000);
}

}  // namespace
