#include "CHelpDialog.h"

#include <QCoreApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QVBoxLayout>

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
  return QCoreApplication::applicationDirPath() + QStringLiteral("/HelpFile.txt");
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
