#include "CViewPrompts.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

CViewPrompts CViewPrompts::ForWidget(QWidget* parent) {
  CViewPrompts p;
  p.chooseFile = [parent](const QString& filter) {
    // The open kind of chooser that still takes a new name.
    return QFileDialog::getSaveFileName(parent, QString(), QString(), filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
  };
  p.askYesNo = [parent](const QString& text) {
    return QMessageBox::question(parent, QString::fromLatin1(kCaption), text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
  p.message = [parent](const QString& text) {
    QMessageBox::warning(parent, QString::fromLatin1(kCaption), text, QMessageBox::Ok);
  };
  return p;
}

bool CViewPrompts::OpenLog(CCsvLog& log, const QString& filter, const std::string& header) const {
  const QString chosen = chooseFile ? chooseFile(filter) : QString();
  if (chosen.isEmpty()) return false;
  log.Close();
  const std::string path = QFile::encodeName(chosen).toStdString();
  bool truncate = true;
  if (CCsvLog::Exists(path)) {
    truncate =
        askYesNo &&
        askYesNo(QStringLiteral("Do you want to overwrite it? If file is open please close!!!"));
  }
  if (!log.Open(path, truncate)) {
    if (message) message(QStringLiteral("Could not Open File"));
    return false;
  }
  if (!log.WriteLine("") || !log.WriteLine(header)) {
    log.Close();
    if (message) message(QStringLiteral("Could not write to the log file."));
    return false;
  }
  return true;
}
