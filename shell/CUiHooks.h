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

  MessageFn messageBox;
  ExecFn execDialog;

  // Real message boxes (caption "VantrelTool Test Program") and QDialog::exec.
  static CUiHooks Defaults();
};
