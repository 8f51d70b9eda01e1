// A log or configuration that cannot be written is told to the user, never lost silently.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "control/CSettingDialog.h"
#include "control/CSettingsRecord.h"
#include "control/IAppServices.h"
#include "link/CTransCtrl.h"
#include "views/CPointStore.h"
#include "views/CWndGraphDialog.h"
#include "views/CWndXYDialog.h"
#include "views/CXYCoordDraw.h"

namespace {

// Answers the view's dialogs: the chosen file, "Yes" to overwriting, messages recorded.
void Answer(CViewPrompts& p, const QString& file, QStringList& messages) {
  p.chooseFile = [file](const QString&) { return file; };
  p.askYesNo = [](const QString&) { return true; };
  p.message = [&messages](const QString& text) { messages << text; };
}

struct NoApp : IAppServices {
  void SetLinkStatus(LinkStatus) override {}
  void PushViewSettings() override {}
};

TEST(UnwritableFile, LogOnAFullDiskIsReportedAndNotStarted) {
  CTransCtrl ctrl;
  CSettingsRecord settings;
  CXYCoordDraw draw;
  CPointStore store;
  QStringList messages;

  CWndXYDialog xy(ctrl, settings, draw, store, nullptr);
  Answer(xy.prompts, "/dev/full", messages);
  xy.OnBnClickedLogFile();
  EXPECT_FALSE(xy.IsLogging());
  ASSERT_EQ(messages.size(), 1);
  EXPECT_EQ(messages.last(), "Could not write to the log file.");

  CWndGraphDialog wave(ctrl, settings, nullptr);
  Answer(wave.prompts, "/dev/full", messages);
  wave.OnBnClickedLogFile();
  EXPECT_FALSE(wave.IsLogging());
  ASSERT_EQ(messages.size(), 2);
  EXPECT_EQ(messages.last(), "Could not write to the log file.");

  // A folder that is not there: the file cannot be opened at all.
  Answer(wave.prompts, "/nonexistent-folder/wave.csv", messages);
  wave.OnBnClickedLogFile();
  EXPECT_FALSE(wave.IsLogging());
  ASSERT_EQ(messages.size(), 3);
  EXPECT_EQ(messages.last(), "Could not Open File");
}

TEST(UnwritableFile, SettingsSaveThatFailsIsReported) {
  char tmpl[] = "/tmp/vt-unwritable-XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  CTransCtrl ctrl;
  CSettingsRecord record;
  // The configuration's folder was removed under the program.
  record.SetFilePath(dir + "/gone/ZUZIvor.ini");
  NoApp app;
  CSettingDialog dlg(record, ctrl, app, nullptr);
  QStringList messages;
  dlg.showMessage = [&](const QString& text, QMessageBox::Icon) { messages << text; };
  dlg.show();
  auto* save = dlg.findChild<QAbstractButton*>("id1017");
  ASSERT_NE(save, nullptr);
  QTest::mouseClick(save, Qt::LeftButton);
  // Applying the settings afterwards may add its own port message.
  ASSERT_GE(messages.size(), 1);
  EXPECT_TRUE(messages[0].startsWith("The settings could not be saved to "))
      << messages[0].toStdString();
  EXPECT_TRUE(messages[0].contains("gone/ZUZIvor.ini"));
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
