// VantrelTool: engineering program for capacitive touch panel controllers.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <string>

#include "control/CSettingsLocation.h"
#include "shell/CMainFrame.h"
#include "shell/CScreenshotWriter.h"
#include "shell/CVantrelToolApp.h"
#include "shell/ProductVersion.h"

namespace {

struct CommandLine {
  QString configPath;
  QString screenshotDir;
  QString recordPath;
  QString replayPath;
};

// Parsed before any window system is touched, so --help and --version work anywhere.
int ParseCommandLine(int argc, char** argv, CommandLine& out) {
  QCoreApplication core(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("VantrelTool"));
  QCoreApplication::setApplicationVersion(GetProductVersion());
  QCommandLineParser parser;
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption config(QStringList{"config"},
                            QStringLiteral("Read and write the settings in <file>."),
                            QStringLiteral("file"));
  QCommandLineOption shots(QStringList{"screenshot"},
                           QStringLiteral("Open every window, write a PNG of each into <dir>, "
                                          "then exit."),
                           QStringLiteral("dir"));
  QCommandLineOption record(QStringList{"record"},
                            QStringLiteral("Record the session into <file> from the start "
                                           "(a name ending in .zst is compressed)."),
                            QStringLiteral("file"));
  QCommandLineOption replay(QStringList{"replay"},
                            QStringLiteral("Play the capture <file> instead of talking to "
                                           "the controller."),
                            QStringLiteral("file"));
  parser.addOption(config);
  parser.addOption(shots);
  parser.addOption(record);
  parser.addOption(replay);
  // A first look for --config, so that --help names the settings file in use.
  parser.parse(core.arguments());
  const QString inUse = QString::fromStdString(CSettingsLocation::Resolve(
      parser.isSet(config) ? QFileInfo(parser.value(config)).absoluteFilePath().toStdString()
                           : std::string()));
  parser.setApplicationDescription(
      QStringLiteral(
          "Engineering program for capacitive touch panel controllers (USB HID or serial link).\n"
          "Settings are kept in ZUZIvor.ini beside the program when its folder is writable,\n"
          "otherwise (an installed copy) in $XDG_CONFIG_HOME/vantrel/ZUZIvor.ini, by default\n"
          "~/.config/vantrel/ZUZIvor.ini; --config names another file.\n"
          "With HIDPIPE_SIM=<socket> the USB link talks to the tpcsim simulator.\n"
          "Settings file in use: ") +
      inUse);
  parser.process(core);  // prints help, version or the error and exits for those
  if (!parser.positionalArguments().isEmpty()) {
    std::fprintf(stderr, "VantrelTool: unexpected argument '%s' (see --help)\n",
                 qPrintable(parser.positionalArguments().first()));
    return 2;
  }
  if (parser.isSet(config)) {
    const QFileInfo info(parser.value(config));
    if (info.exists() && !info.isFile()) {
      std::fprintf(stderr, "VantrelTool: --config %s is not a file\n", qPrintable(info.filePath()));
      return 2;
    }
    out.configPath = info.absoluteFilePath();
  }
  if (parser.isSet(shots)) out.screenshotDir = parser.value(shots);
  if (parser.isSet(record)) out.recordPath = parser.value(record);
  if (parser.isSet(replay)) {
    const QFileInfo info(parser.value(replay));
    if (!info.isFile()) {
      std::fprintf(stderr, "VantrelTool: --replay %s: %s\n", qPrintable(info.filePath()),
                   !info.exists() ? "no such file"
                   : info.isDir() ? "is a folder, not a capture file"
                                  : "not a regular file");
      return 2;
    }
    out.replayPath = info.absoluteFilePath();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine cmd;
  if (const int rc = ParseCommandLine(argc, argv, cmd); rc != 0) return rc;

  QApplication qapp(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VantrelTool"));
  QApplication::setApplicationVersion(GetProductVersion());
  QApplication::setQuitOnLastWindowClosed(false);

  CVantrelToolApp::Options options;
  options.configPath = cmd.configPath;
  options.recordPath = cmd.recordPath;
  options.replayPath = cmd.replayPath;
  const bool screenshot = !cmd.screenshotDir.isEmpty();

  CVantrelToolApp app;
  if (screenshot) {
    // No message box may stop an unattended run.
    app.Hooks().messageBox = [](QWidget*, QMessageBox::Icon, const QString& text,
                                QMessageBox::StandardButtons) {
      std::fprintf(stderr, "VantrelTool: %s\n", qPrintable(text));
      return QMessageBox::Yes;
    };
  } else if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
    // Nobody sees a box: the text goes to standard error, the answer is the cautious one.
    app.Hooks().messageBox = [](QWidget*, QMessageBox::Icon, const QString& text,
                                QMessageBox::StandardButtons buttons) {
      std::fprintf(stderr, "VantrelTool: %s\n", qPrintable(text));
      for (auto b : {QMessageBox::Ok, QMessageBox::No, QMessageBox::Cancel}) {
        if (buttons & b) return b;
      }
      return QMessageBox::NoButton;
    };
  }
  if (app.InitInstance(options) != CVantrelToolApp::kStarted) return 0;
  // Record the open windows before quitting closes them.
  QObject::connect(app.MainFrame(), &CMainFrame::closed, &qapp, [&app] {
    app.ExitInstance();
    QApplication::quit();
  });

  int rc = 0;
  if (screenshot) {
    QTimer::singleShot(300, &qapp, [&] {
      CScreenshotWriter writer(app, cmd.screenshotDir);
      const bool ok = writer.Run();
      for (const QString& f : writer.Written()) std::printf("%s\n", qPrintable(f));
      for (const QString& e : writer.Errors())
        std::fprintf(stderr, "VantrelTool: %s\n", qPrintable(e));
      rc = ok ? 0 : 1;
      app.MainFrame()->close();
    });
  }
  const int loop = QApplication::exec();
  app.ExitInstance();
  return rc != 0 ? rc : loop;
}
