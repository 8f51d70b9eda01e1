#include "CHelpDialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QVBoxLayout>

#ifndef VT_DATADIR_FROM_BINDIR
#define VT_DATADIR_FROM_BINDIR "../share/vantrel"
#endif

CHelpDialog::CHelpDialog(QWidget* parent, const QString& helpPath) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Help Window"));
  // 494 x 270 dialog units.
  resize(741, 439);
  edit_ = new QPlainTextEdit(this);
  edit_->setObjectName(QStringLiteral("id1039"));
  edit_->setReadOnly(true);
  edit_->setLineWrapMode(QPlainTextEdit::NoWrap);
  edit_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(edit_);

  QFile file(helpPath.isEmpty() ? DefaultHelpPath() : helpPath);
  if (!file.open(QIODevice::ReadOnly)) {
    edit_->setPlainText(QString::fromLatin1(kPlaceholder));
    return;
  }
  edit_->setPlainText(DecodeHelpBytes(file.readAll()));
}

QString CHelpDialog::DefaultHelpPath() {
  // Beside the program first (a build tree, a portable copy), then the installed data
  // folder, found relative to the program so that an installed tree can be moved.
  const QString dir = QCoreApplication::applicationDirPath();
  const QString beside = dir + QStringLiteral("/HelpFile.txt");
  const QString installed =
      QDir::cleanPath(dir + QStringLiteral("/" VT_DATADIR_FROM_BINDIR "/HelpFile.txt"));
  return QFile::exists(beside) || !QFile::exists(installed) ? beside : installed;
}

QString CHelpDialog::DecodeHelpBytes(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(bytes);
  if (utf8.hasError()) text = QString::fromLatin1(bytes);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

void CHelpDialog::ShowTop() {
  QTextCursor cursor = edit_->textCursor();
  cursor.movePosition(QTextCursor::Start);
  edit_->setTextCursor(cursor);
  edit_->ensureCursorVisible();
}

QString CHelpDialog::Text() const {
  return edit_->toPlainText();
}
