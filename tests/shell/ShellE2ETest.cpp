// The program's shell against the simulated controller: connect, version, unplug, replug.
#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "common/SimProcess.h"
#include "control/CSendDialog.h"
#include "shell/CMainFrame.h"
#include "shell/CVantrelToolApp.h"
#include "views/CDrawArea.h"
#include "views/CWndGraphDialog.h"

namespace {

template <typename Pred>
bool WaitFor(Pred done, int ms = 10000) {
  return QTest::qWaitFor(done, ms);
}

TEST(ShellEndToEnd, ConnectsShowsVersionAndFollowsUnplugAndReplug) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb"}));
  qputenv("HIDPIPE_SIM", QByteArray::fromStdString(sim.Socket()));

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

  EXPECT_TRUE(sim.Ok("unplug"));
  EXPECT_TRUE(WaitFor([&] { return frame->StatusText() == "TPC Port: DISCONNECTED"; }));
  EXPECT_TRUE(sim.Ok("plug"));
  EXPECT_TRUE(WaitFor([&] { return frame->StatusText() == "TPC Port: CONNECTED"; }));
  EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();

  // Unplugged while streaming: the views are marked, the window says the stream stopped;
  // plugged in again, the stream runs again and the link's own opening says nothing.
  frame->Action(CMainFrame::ID_WAVE_WINDOW)->trigger();
  CWndGraphDialog* wave = app->WaveWindow();
  ASSERT_NE(wave, nullptr);
  QTest::mouseClick(send->findChild<QPushButton*>("id1051"), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return send->StatusText() == "M0 raw data: receiving..."; }));
  EXPECT_TRUE(wave->Canvas()->Banner().isEmpty());
  EXPECT_TRUE(sim.Ok("unplug"));
  EXPECT_TRUE(WaitFor([&] { return frame->StatusText() == "TPC Port: DISCONNECTED"; }));
  EXPECT_EQ(send->StatusText(), "M0 raw data: stopped, the controller was disconnected.");
  EXPECT_TRUE(wave->Canvas()->Banner().startsWith("DISCONNECTED"));
  QStringList statuses;
  QObject::connect(send->findChild<QPlainTextEdit*>(), &QPlainTextEdit::textChanged,
                   [&] { statuses << send->StatusText(); });
  EXPECT_TRUE(sim.Ok("plug"));
  EXPECT_TRUE(WaitFor([&] { return send->StatusText() == "M0 raw data: receiving..."; }))
      << statuses.join("|").toStdString();
  EXPECT_TRUE(wave->Canvas()->Banner().isEmpty());
  EXPECT_FALSE(statuses.join("|").contains("Scan coordinates data"))
      << statuses.join("|").toStdString();

  // "Output coordinates" toggled while the stream runs: the stream still ran, and runs
  // again after the replug.
  QTest::mouseClick(send->findChild<QPushButton*>("id1054"), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return send->StatusText().startsWith("Output coordinates: "); }));
  EXPECT_TRUE(sim.Ok("unplug"));
  EXPECT_TRUE(WaitFor([&] { return frame->StatusText() == "TPC Port: DISCONNECTED"; }));
  EXPECT_EQ(send->StatusText(), "M0 raw data: stopped, the controller was disconnected.");
  EXPECT_TRUE(sim.Ok("plug"));
  EXPECT_TRUE(WaitFor([&] { return send->StatusText() == "M0 raw data: receiving..."; }))
      << send->StatusText().toStdString();
  QTest::mouseClick(send->findChild<QPushButton*>("id1046"), Qt::LeftButton);
  EXPECT_TRUE(WaitFor([&] { return send->StatusText() == "Idle."; }));

  app.reset();
  qunsetenv("HIDPIPE_SIM");
}

}  // namespace
