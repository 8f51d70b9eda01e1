// Message boxes and modal dialogs go through these, so tests can answer them.
#pragma once

#include <QMessageBox>
#include <functional>

class QDialog;

struct CUiHooks {
  using MessageFn = std::function<QMessageBox::StandardButton(
      QWidget* owner, QMessageBox::Icon icon, const QString& text,
      QMessageBox::StandardButtons buttons)>;
  using ExecFn = std::function<int(QDialog& dialog)>;
  // A file to save to (save) or open; empty when cancelled. filter: "Name (*.ext);;...".
  using ChooseFileFn = std::function<QString(QWidget* owner, bool save, const QString& caption,
                                             const QString& filter)>;

  MessageFn messageBox;
  ExecFn execDialog;
  ChooseFileFn chooseFile;

  // Real message boxes (caption "VantrelTool Test Program"), QDialog::exec and file
  // dialogs.
  static CUiHooks Defaults();
};
