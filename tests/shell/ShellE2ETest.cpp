// The program's shell against the simulated controller: connect, version, unplug, replug.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QLineEdit>
#include <QLocalSocket>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "control/CSendDialog.h"
#include "shell/CMainFrame.h"
#include "shell/CVantrelToolApp.h"

namespace {

template <typename Pred>
bool WaitFor(Pred done, int ms = 10000) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (done()) return true;
    QTest::qWait(10);
  }
  return done();
}

class Simulator {
 public:
  bool Start(const QString& dir) {
    socket_ = dir + "/tpcsim.sock";
    control_ = dir + "/control.sock";
    const std::string exe = std::string(VT_BINARY_DIR) + "/tpcsim";
    if (access(exe.c_str(), X_OK) != 0) return false;
    const std::string sock = socket_.toStdString();
    const std::string ctl = control_.toStdString();
    pid_ = fork();
    if (pid_ == 0) {
      execl(exe.c_str(), exe.c_str(), "--usb", "--socket", sock.c_str(), "--control", ctl.c_str(),
            "--no-stdin", static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid_ > 0 && WaitFor([&] { return QFile::exists(socket_) && QFile::exists(control_); });
  }
  ~Simulator() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Sends one control command and returns the answer line.
  QByteArray Command(const QByteArray& line) {
    QLocalSocket s;
    s.connectToServer(control_);
    if (!s.waitForConnected(2000)) return "no control socket";
    s.write(line + "\n");
    s.waitForBytesWritten(2000);
    while (!s.canReadLine())
      if (!s.waitForReadyRead(5000)) return "no answer";
    return s.readLine().trimmed();
  }
  const QString& SocketPath() const { return socket_; }

 private:
  pid_t pid_ = -1;
  QString socket_;
  QString control_;
};

TEST(ShellEndToEnd, ConnectsShowsVersionAndFollowsUnplugAndReplug) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  Simulator sim;
  if (!sim.Start(dir.path())) GTEST_SKIP() << "tpcsim is not built in " << VT_BINARY_DIR;
  qputenv("HIDPIPE_SIM", sim.SocketPath().toLocal8Bit());

  const QString ini = dir.filePath("ZUZIvor.ini");
  {
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[HID]\nVID1=8829\nPID1=258\nOSType1=2\n");
  }
  auto app = std::make_unique<CVantrelToolApp>();
  QStringList messages;
  app->Hooks().messageBox = [&](QWidget*, QMessageBox::Icon, const QString& text,
                                QMessageBox::StandardButtons) {
    messages << text;
    return QMessageBox::Ok;
  };
  CVantrelToolApp::Options options;
  options.configPath = ini;
  options.singleInstance = false;
  ASSERT_EQ(app->InitInstance(options), CVantrelToolApp::kStarted);
  CMainFrame* frame = app->MainFrame();
  EXPECT_EQ(frame->StatusText(), "TPC Port: CONNECTED");
  EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();

  frame->Action(CMainFrame::ID_SEND_WINDOW)->trigger();
  CSendDialog* send = app->SendWindow();
  ASSERT_NE(send, nullptr);
  auto* version = send->findChild<QLineEdit*>("id1119");
  ASSERT_TRUE(WaitFor([&] { return !version->text().isEmpty(); }));
  EXPECT_EQ(version->text().toStdString(), app->Ctrl().FirmwareVersion());

  // A stream asked for from the window is acknowledged.
  QTest::mouseClick(send->findChild<QPushButton*>("id1051"), Qt::LeftButton);
  EXPECT_TRUE(WaitFor([&] { return send->StatusText() == "M0 raw data: receiving..."; }));
  QTest::mouseClick(send->findChild<QPushButton*>("id1046"), Qt::LeftButton);
  EXPECT_TRUE(WaitFor([&] { return send->StatusText() == "Idle."; }));

  EXPECT_TRUE(sim.Command("unplug").startsWith("ok"));
  EXPECT_TRUE(WaitFor([&] { return frame->StatusText() == "TPC Port: DISCONNECTED"; }));
  EXPECT_TRUE(sim.Command("plug").startsWith("ok"));
  EXPECT_TRUE(WaitFor([&] { return frame->StatusText() == "TPC Port: CONNECTED"; }));
  EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();

  app.reset();
  qunsetenv("HIDPIPE_SIM");
}

}  // namespace
