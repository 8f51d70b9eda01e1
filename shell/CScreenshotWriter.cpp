#include "CScreenshotWriter.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLocalSocket>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>

#include "control/CSendDialog.h"
#include "control/CSetSerialPortDlg.h"
#include "control/CSettingDialog.h"
#include "shell/CAboutDlg.h"
#include "shell/CCaptureControl.h"
#include "shell/CHelpDialog.h"
#include "shell/CMainFrame.h"
#include "shell/CReplayBar.h"
#include "shell/CVantrelToolApp.h"
#include "views/CTouchFigures.h"
#include "views/CWndGraphDialog.h"
#include "views/CWndXYDialog.h"
#include "views/CWndXYFullDialog.h"

CScreenshotWriter::CScreenshotWriter(CVantrelToolApp& app, const QString& dir)
    : app_(app), dir_(dir) {}

template <typename Pred>
void CScreenshotWriter::Wait(int ms, Pred done) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired() && !done()) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
}

void CScreenshotWriter::Grab(QWidget* w, const QString& name) {
  if (w == nullptr) {
    errors_ << name + ": window not available";
    return;
  }
  Wait(300, [] { return false; });
  const QString path = QDir(dir_).filePath(name + ".png");
  if (w->grab().save(path, "PNG"))
    written_ << path;
  else
    errors_ << path + ": could not be written";
}

// A stream running while "Output coordinates" is pressed, the simulated controller
// unplugged and plugged in again (through the control socket the environment names):
// the stream runs again. The Firmware Control Window beside the Wave Window.
void CScreenshotWriter::GrabReplug() {
  const QByteArray control = qgetenv("VT_SCREENSHOT_SIM_CONTROL");
  CSendDialog* send = app_.SendWindow();
  CWndGraphDialog* wave = app_.WaveWindow();
  if (control.isEmpty() || send == nullptr || wave == nullptr) return;
  const auto simSays = [&control](const char* cmd) {
    QLocalSocket s;
    s.connectToServer(QString::fromLocal8Bit(control));
    if (!s.waitForConnected(2000)) return false;
    s.write(QByteArray(cmd) + '\n');
    s.waitForBytesWritten(2000);
    s.waitForReadyRead(2000);
    return true;
  };
  wave->show();
  send->OnBnClickedStreamButton(1048);
  Wait(2000, [&] { return send->StatusText().endsWith(QLatin1String("receiving...")); });
  send->OnBnClickedReportTarget();
  Wait(1000, [&] { return send->StatusText().startsWith(QLatin1String("Output coordinates")); });
  if (!simSays("unplug")) {
    errors_ << QStringLiteral("replug: the simulator's control socket does not answer");
    return;
  }
  CMainFrame* frame = app_.MainFrame();
  Wait(5000, [&] { return frame->GetLinkStatus() != LinkStatus::kConnected; });
  simSays("plug");
  Wait(8000, [&] { return send->StatusText().endsWith(QLatin1String("receiving...")); });
  Wait(1500, [] { return false; });
  const QImage left = send->grab().toImage(), right = wave->grab().toImage();
  QImage both(left.width() + right.width(), std::max(left.height(), right.height()),
              QImage::Format_RGB32);
  both.fill(frame->palette().color(QPalette::Window));
  {
    QPainter p(&both);
    p.drawImage(0, 0, left);
    p.drawImage(left.width(), 0, right);
  }
  const QString path = QDir(dir_).filePath(QStringLiteral("replug-stream-resumed.png"));
  if (both.save(path, "PNG"))
    written_ << path;
  else
    errors_ << path + ": could not be written";
  send->OnBnClickedStopData();
  app_.Ctrl().SendCmd("SEND 024C020500 ", 16, 1, 1);
  Wait(2000, [&] { return !app_.Ctrl().IsReceiving(); });
}

// A stream for the Wave Window, its statistics and a limits file over them.
void CScreenshotWriter::GrabWave(CSendDialog* send) {
  CTransCtrl& ctrl = app_.Ctrl();
  // Coordinates to this program, then a stream for the Wave Window.
  ctrl.SendCmd("SEND 024C020501 ", 16, 1, 1);
  app_.OpenWaveWindow();
  send->OnBnClickedStreamButton(1051);
  Wait(1500, [] { return false; });
  Grab(app_.WaveWindow(), "wave");
  if (CWndGraphDialog* wave = app_.WaveWindow()) GrabWaveStatistics(wave);
  send->OnBnClickedStopData();
  Wait(500, [&] { return !ctrl.IsReceiving(); });
}

// Statistics over the bars and the table (the settings file is not written).
// The simulated controller has one noisy (X7) and one open electrode (X2): the table
// marks the open one first and says why.
void CScreenshotWriter::GrabWaveStatistics(CWndGraphDialog* wave) {
  wave->SetStatistics(true);
  Wait(2000, [] { return false; });
  Grab(wave, "wave-statistics");
  // With a limits file of the self test: electrodes outside it are marked before the
  // noisiest.
  QTemporaryDir limitsDir;
  QFile limits(limitsDir.filePath(QStringLiteral("panel-limits.toml")));
  if (limits.open(QIODevice::WriteOnly)) {
    limits.write("[streams.m0-raw]\nlimits = [ { electrodes = \"all\", mean_min = 960, "
                 "mean_max = 1040, stddev_max = 10 } ]\n");
    limits.close();
    if (!wave->LoadLimits(limits.fileName())) errors_ << QStringLiteral("limits not loaded");
  }
  Wait(500, [] { return false; });
  Grab(wave, "wave-statistics-open-electrode");
  // Bars from the value's zero, labels with the scale's counts (the open one "-1000").
  Grab(wave, "wave-statistics-zero-based");
  wave->SetStatistics(false);
}

// The XY window with its touch figures, then its full-screen map and the map's modes.
void CScreenshotWriter::GrabXY(CSendDialog* send) {
  app_.OpenXYWindow();
  Wait(1500, [] { return false; });
  Grab(app_.XYWindow(), "xy");
  // The live touch figures: rate per contact, jitter of the held one.
  if (CTouchFigures* figures = app_.XYWindow()->Figures()) {
    figures->SetOn(true);
    Wait(1500, [] { return false; });
    Grab(app_.XYWindow(), "xy-touch-figures");
    figures->SetOn(false);
  }
  if (auto* expand = app_.XYWindow()->findChild<QPushButton*>("id1298")) expand->click();
  Wait(1000, [&] { return app_.XYWindow()->IsFullScreenVisible(); });
  // The value map with its numbers from the signal streams (X row, then Y column), then
  // the finger's trace over it.
  send->OnBnClickedStreamButton(1058);
  Wait(1000, [] { return false; });
  send->OnBnClickedStreamButton(1060);
  Wait(1000, [] { return false; });
  send->OnBnClickedStopData();
  Wait(1500, [] { return false; });
  // After the "Esc: back" hint has gone.
  QWidget* hint = app_.XYWindow()->FullScreen()->findChild<QWidget*>("escHint");
  Wait(CWndXYFullDialog::kHintMs, [&] { return hint == nullptr || !hint->isVisible(); });
  Grab(app_.XYWindow()->FullScreen(), "xy-fullscreen");
  if (CWndXYFullDialog* full = app_.XYWindow()->FullScreen()) {
    GrabMapStatistics(full, send);
    GrabMapStreams(full, send);
  }
  if (app_.XYWindow()->IsFullScreenVisible()) app_.XYWindow()->FullScreen()->OnBnClickedBack();
}

// The statistics modes of the map on an X raw stream.
void CScreenshotWriter::GrabMapStatistics(CWndXYFullDialog* full, CSendDialog* send) {
  CTransCtrl& ctrl = app_.Ctrl();
  ctrl.SendCmd("SEND 024E020C00 ", 16, 1, 1);
  full->SetMode(MapMode::kNoise);
  Wait(1500, [] { return false; });
  Grab(full, "xy-fullscreen-noise");
  full->SetMode(MapMode::kPeakToPeak);
  Wait(500, [] { return false; });
  Grab(full, "xy-fullscreen-p2p");
  full->TakeBaseline();
  full->Live().Reset();
  full->SetMode(MapMode::kDifference);
  Wait(1500, [] { return false; });
  Grab(full, "xy-fullscreen-difference");
  send->OnBnClickedStopData();
  Wait(1000, [&] { return !ctrl.IsReceiving(); });
}

// The noise map from an M0 stream, then after a switch to M1 X raw; the accuracy mode.
void CScreenshotWriter::GrabMapStreams(CWndXYFullDialog* full, CSendDialog* send) {
  CTransCtrl& ctrl = app_.Ctrl();
  // An M0 stream reaches the noise map too (X along the top row, Y down the left).
  full->Live().Reset();
  full->SetMode(MapMode::kNoise);
  ctrl.SendCmd("SEND 024E020400 ", 16, 1, 1);
  Wait(2000, [] { return false; });
  Grab(full, "fullscreen-m0-noise");
  send->OnBnClickedStopData();
  Wait(1000, [&] { return !ctrl.IsReceiving(); });
  // Then M1 X raw: only its X row, no Y cell of the M0 map stays.
  ctrl.SendCmd("SEND 024E020C00 ", 16, 1, 1);
  Wait(2000, [] { return false; });
  full->ToggleHint();
  Grab(full, "fullscreen-stream-switch");
  send->OnBnClickedStopData();
  Wait(1000, [&] { return !ctrl.IsReceiving(); });
  full->SetMode(MapMode::kValue);
  // The accuracy mode's prompt, readable on its box over the map.
  full->SetAccuracyMode(true);
  Wait(1000, [] { return false; });
  Grab(full, "accuracy-mode");
  full->SetAccuracyMode(false);
}

// Help, version, settings and serial port dialogs.
void CScreenshotWriter::GrabDialogs() {
  CMainFrame* frame = app_.MainFrame();
  app_.OpenHelpWindow();
  Grab(app_.HelpWindow(), "help");
  if (app_.HelpWindow() != nullptr &&
      app_.HelpWindow()->Text() == QLatin1String(CHelpDialog::kPlaceholder)) {
    errors_ << QStringLiteral("help: no HelpFile.txt found");
  }

  CAboutDlg about(frame);
  about.show();
  Grab(&about, "version");
  about.hide();

  CSettingDialog settings(app_.Settings(), app_.Ctrl(), app_, frame);
  settings.show();
  Grab(&settings, "settings");
  settings.hide();
  SerialLineSettings line = app_.SerialSettings();
  CSetSerialPortDlg port(line, frame);
  port.show();
  Grab(&port, "serial-port");
  port.hide();
}

// Replaying a capture: the replay bar a while into playing it.
void CScreenshotWriter::GrabReplay() {
  CCaptureControl& captures = app_.Captures();
  if (!captures.IsReplaying()) return;
  captures.Player()->Play();
  Wait(2000, [] { return false; });
  captures.Player()->Pause();
  Grab(captures.Bar(), "replay-bar");
  // The status line says what plays.
  Grab(app_.MainFrame(), "replay-status");
}

bool CScreenshotWriter::Run() {
  QDir().mkpath(dir_);
  CTransCtrl& ctrl = app_.Ctrl();
  Wait(3000, [&] { return !ctrl.FirmwareVersion().empty(); });
  CMainFrame* frame = app_.MainFrame();
  frame->RestoreBar();
  Grab(frame, "main");

  app_.OpenSendWindow();
  CSendDialog* send = app_.SendWindow();
  Wait(1000, [&] { return send->findChild<QWidget*>("id1119") != nullptr; });
  Grab(send, "firmware-control");

  GrabWave(send);
  GrabXY(send);
  // Coordinates to the system cursor again: the link goes quiet for the idle dialogs.
  ctrl.SendCmd("SEND 024C020500 ", 16, 1, 1);
  Wait(2000, [&] { return !ctrl.IsReceiving(); });

  GrabReplug();
  GrabDialogs();
  GrabReplay();
  return errors_.isEmpty();
}
