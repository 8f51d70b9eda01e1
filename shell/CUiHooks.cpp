#include "CUiHooks.h"

#include <QDialog>
#include <QFileDialog>

CUiHooks CUiHooks::Defaults() {
  CUiHooks h;
  h.messageBox = [](QWidget* owner, QMessageBox::Icon icon, const QString& text,
                    QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, QStringLiteral("VantrelTool Test Program"), text, buttons, owner);
    return static_cast<QMessageBox::StandardButton>(box.exec());
  };
  h.execDialog = [](QDialog& dialog) { return dialog.exec(); };
  h.chooseFile = [](QWidget* owner, bool save, const QString& caption, const QString& filter) {
    return save ? QFileDialog::getSaveFileName(owner, caption, QString(), filter)
                : QFileDialog::getOpenFileName(owner, caption, QString(), filter);
  };
  return h;
}
