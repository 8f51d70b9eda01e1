// Lumora's real control and window against the tpcsim simulator, offscreen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "calib/app/TformCalibration.h"
#include "calib/framework/TKorvikClock.h"
#include "calib/framework/TKorvikTouchPanelControl.h"

extern char** environ;

#ifndef TPCSIM_PATH
#error "TPCSIM_PATH names the simulator program"
#endif

namespace {

// The simulator for the whole program: the HID library reads its socket path once.
class Simulator {
 public:
  bool Start(const QStringList& identity) {
    if (!Dir.isValid()) return false;
    Socket = Dir.filePath("tpcsim.sock");
    Control = Dir.filePath("control.sock");
    Trace = Dir.filePath("trace.log");
    qputenv("HIDPIPE_SIM", Socket.toUtf8());
    QStringList args = {"--usb",   "--socket", Socket,       "--control",         Control,
                        "--trace", Trace,      "--no-stdin", "--calibrate-delay", "50"};
    // posix_spawn, not QProcess: the thread sanitizer loses this thread's locking after
    // QProcess has started a child, and then reports races that are not there.
    std::vector<std::string> argv8 = {TPCSIM_PATH};
    for (const QString& a : args + identity) argv8.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& a : argv8) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int spawned = posix_spawn(&Pid, TPCSIM_PATH, &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (spawned != 0) {
      Pid = -1;
      return false;
    }
    return QTest::qWaitFor([&] { return QFile::exists(Socket) && QFile::exists(Control); }, 10000);
  }
  ~Simulator() {
    if (Pid <= 0) return;
    ::kill(Pid, SIGTERM);
    int status = 0;
    ::waitpid(Pid, &status, 0);
  }

  // One control command; true when answered "ok".
  bool Command(const std::string& line) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray path = Control.toUtf8();
    std::strncpy(addr.sun_path, path.constData(), sizeof addr.sun_path - 1);
    bool ok = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      const std::string text = line + "\n";
      if (::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size())) {
        char answer[256] = {};
        const ssize_t n = ::read(fd, answer, sizeof answer - 1);
        ok = n >= 2 && std::strncmp(answer, "ok", 2) == 0;
      }
    }
    ::close(fd);
    return ok;
  }

  // Host-to-device frames of the trace, as hex text, in order.
  // Joined, for readable comparisons.
  static std::string Text(const QStringList& frames) { return frames.join(" | ").toStdString(); }

  QStringList HostFrames() const {
    QFile file(Trace);
    QStringList frames;
    if (!file.open(QIODevice::ReadOnly)) return frames;
    for (const QByteArray& line : file.readAll().split('\n')) {
      const int at = line.indexOf(" H>D ");
      if (at >= 0) frames << QString::fromLatin1(line.mid(at + 5)).trimmed();
    }
    return frames;
  }
  bool WaitHostFrames(int count) {
    return QTest::qWaitFor([&] { return HostFrames().size() >= count; }, 10000);
  }

  QTemporaryDir Dir;
  QString Socket, Control, Trace;
  pid_t Pid = -1;
};

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
    Sim = new Simulator;
#ifdef LUMORA_SIM_DFU
    ASSERT_TRUE(Sim->Start({"--pid", "0x0104", "--iface", "0"}));
#else
    ASSERT_TRUE(Sim->Start({}));
#endif
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
    return Sim->HostFrames().mid(first);
  }

  static Simulator* Sim;
  TformCalibration Form;
};

Simulator* LumoraSimTest::Sim = nullptr;

#ifndef LUMORA_SIM_DFU

TEST_F(LumoraSimTest, OpenCalibrateReplugAndClose) {
  Form.show();
  // Opening: the six commands in order, then the version and "Calibrate".
  ASSERT_TRUE(WaitCaption("Calibrate"));
  EXPECT_EQ(Label()->text(), "TPCSIM 1.0.0");
  ASSERT_TRUE(Sim->WaitHostFrames(kOpening.size()));
  EXPECT_EQ(Simulator::Text(Sim->HostFrames()), Simulator::Text(kOpening));

  // Calibration acknowledged with success, then reporting permitted again.
  int mark = Sim->HostFrames().size();
  QTest::mouseClick(Button(), Qt::LeftButton);
  EXPECT_EQ(Button()->text(), "Calibrating");
  ASSERT_TRUE(Sim->WaitHostFrames(mark + 2));
  EXPECT_EQ(Simulator::Text(FramesFrom(mark)), "02 4C 01 01 | 02 4C 02 08 00");
  ASSERT_TRUE(WaitCaption("Calibrate"));

  // Calibration failed (status 0): "Not Ready" until the controller comes back.
  ASSERT_TRUE(Sim->Command("calibrate-result fail"));
  QTest::mouseClick(Button(), Qt::LeftButton);
  ASSERT_TRUE(WaitCaption("Not Ready"));

  // Unplug and replug: "TP info", then the opening again.
  ASSERT_TRUE(Sim->Command("unplug"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Label()->text() == "TP info"; }, 10000));
  EXPECT_EQ(Button()->text(), "Not Ready");
  mark = Sim->HostFrames().size();
  ASSERT_TRUE(Sim->Command("plug"));
  ASSERT_TRUE(WaitCaption("Calibrate"));
  EXPECT_EQ(Label()->text(), "TPCSIM 1.0.0");
  ASSERT_TRUE(Sim->WaitHostFrames(mark + kOpening.size()));
  EXPECT_EQ(Simulator::Text(FramesFrom(mark)), Simulator::Text(kOpening));

  // No answer: after 60 s (skipped on the clock) "Not Ready", as for a failure.
  ASSERT_TRUE(Sim->Command("calibrate-result never"));
  mark = Sim->HostFrames().size();
  QTest::mouseClick(Button(), Qt::LeftButton);
  ASSERT_TRUE(Sim->WaitHostFrames(mark + 1));
  QTest::qWait(0);
  gSkipMs += 61000;
  ASSERT_TRUE(WaitCaption("Not Ready"));
  ASSERT_TRUE(Sim->WaitHostFrames(mark + 2));
  EXPECT_EQ(Simulator::Text(FramesFrom(mark)), "02 4C 01 01 | 02 4C 02 08 00");

  // Closing hands the coordinates back to the cursor and permits reporting.
  mark = Sim->HostFrames().size();
  EXPECT_FALSE(Form.close());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Form.isVisible(); }, 10000));
  EXPECT_EQ(Form.Control(), nullptr);
  ASSERT_TRUE(Sim->WaitHostFrames(mark + 2));
  EXPECT_EQ(Simulator::Text(FramesFrom(mark)), "02 4C 02 05 00 | 02 4C 02 08 00");
}

#else

TEST_F(LumoraSimTest, BootLoaderGetsOnlyTheBootSelectQuery) {
  Form.show();
  ASSERT_TRUE(Sim->WaitHostFrames(1));
  // Give the panel time to send more if it wrongly would: wait for the answer to be
  // dispatched (the panel's mode comes from it), then for the next worker passes.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return Form.Control() && Form.Control()->GetTouchPanel(0) &&
               Form.Control()->GetTouchPanel(0)->PendingCount() == 0;
      },
      10000));
  EXPECT_EQ(Simulator::Text(Sim->HostFrames()), "F1 01 00 00 00 00 00 00");
  EXPECT_EQ(Button()->text(), "Not Ready");
  EXPECT_EQ(Label()->text(), "TP info");
}

#endif

}  // namespace
