#include "CUiHooks.h"

#include <QDialog>

CUiHooks CUiHooks::Defaults() {
  CUiHooks h;
  h.messageBox = [](QWidget* owner, QMessageBox::Icon icon, const QString& text,
                    QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, QStringLiteral("VantrelTool Test Program"), text, buttons, owner);
    return static_cast<QMessageBox::StandardButton>(box.exec());
  };
  h.execDialog = [](QDialog& dialog) { return dialog.exec(); };
  return h;
}
