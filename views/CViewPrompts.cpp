#include "CViewPrompts.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMessageBox>

CViewPrompts CViewPrompts::ForWidget(QWidget* parent) {
  CViewPrompts p;
  p.chooseFile = [parent](const QString& filter) {
    // The open kind of chooser that still takes a new name.
    return QFileDialog::getSaveFileName(parent, QString(), QString(), filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
  };
  p.openFile = [parent](const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
  };
  p.askYesNo = [parent](const QString& text) {
    return QMessageBox::question(parent, QString::fromLatin1(kCaption), text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
  p.message = [parent](const QString& text) {
    QMessageBox::warning(parent, QString::fromLatin1(kCaption), text, QMessageBox::Ok);
  };
  p.notice = [](const QString& text) {
    // The main window shows it in its status line (its ShowNotice slot).
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (qobject_cast<QMainWindow*>(w) == nullptr) continue;
      QMetaObject::invokeMethod(w, "ShowNotice", Q_ARG(QString, text));
      return;
    }
  };
  return p;
}

QString CViewPrompts::ChooseSavePath(const QString& filter, const QString& ext) const {
  QString path = chooseFile ? chooseFile(filter) : QString();
  if (path.isEmpty()) return path;
  if (QFileInfo(path).suffix().isEmpty()) path += ext;
  if (QFileInfo::exists(path)) {
    const QString text = QStringLiteral("%1 already exists.\nDo you want to replace it?")
                             .arg(QDir::toNativeSeparators(path));
    if (!askYesNo || !askYesNo(text)) return QString();
  }
  return path;
}

void CViewPrompts::Saved(const QString& path) const {
  if (notice) notice(QStringLiteral("Saved %1").arg(QDir::toNativeSeparators(path)));
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
