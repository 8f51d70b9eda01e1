// Help window: the plain-text help file shipped beside the program.
#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;

class CHelpDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kPlaceholder = "There's not any contents to display here.";

  // helpPath: the file to show; empty = DefaultHelpPath().
  explicit CHelpDialog(QWidget* parent, const QString& helpPath = QString());

  // "HelpFile.txt" beside the running program, else in the installed data folder.
  static QString DefaultHelpPath();
  // Bytes of the file as text: ASCII as is, UTF-8 when valid, otherwise one byte per character.
  static QString DecodeHelpBytes(const QByteArray& bytes);

  // Caret to the start of the text, scrolled into view.
  void ShowTop();
  QString Text() const;

 private:
  QPlainTextEdit* edit_ = nullptr;
};
