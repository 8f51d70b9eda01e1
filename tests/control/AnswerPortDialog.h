// Answers the serial port dialog once it is shown modally: picks a port entry and
// presses a button ("id1" OK, "id2" Cancel).
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include "control/CSetSerialPortDlg.h"

inline void AnswerPortDialog(int portIndex, int buttonId) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, portIndex, buttonId] {
    auto* dlg = qobject_cast<CSetSerialPortDlg*>(QApplication::activeModalWidget());
    if (!dlg) return;
    timer->stop();
    timer->deleteLater();
    dlg->findChild<QComboBox*>("id1024")->setCurrentIndex(portIndex);
    dlg->findChild<QPushButton*>(QString("id%1").arg(buttonId))->click();
  });
  timer->start(10);
}
