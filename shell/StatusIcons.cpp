#include "StatusIcons.h"

#include <QPainter>

QPixmap StatusIcon(int iconId, int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const bool connected = iconId == kIconConnected;
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(connected ? QColor(0, 170, 0) : QColor(200, 0, 0));
  p.drawEllipse(QRectF(1.5, 1.5, size - 3, size - 3));
  p.setPen(QPen(Qt::white, qMax(1, size / 8)));
  const qreal m = size * 0.3;
  if (connected) {
    // plug contacts
    p.drawLine(QPointF(m, size / 2.0), QPointF(size - m, size / 2.0));
  } else {
    p.drawLine(QPointF(m, m), QPointF(size - m, size - m));
    p.drawLine(QPointF(size - m, m), QPointF(m, size - m));
  }
  return pm;
}

QPixmap AppIcon(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 40, 40), 1));
  p.setBrush(QColor(60, 120, 200));
  p.drawRoundedRect(QRectF(1, 1, size - 2, size - 2), size / 6.0, size / 6.0);
  p.setPen(QPen(Qt::white, qMax(1, size / 12)));
  for (int i = 1; i < 4; ++i) {
    const qreal v = size * i / 4.0;
    p.drawLine(QPointF(v, size * 0.2), QPointF(v, size * 0.8));
    p.drawLine(QPointF(size * 0.2, v), QPointF(size * 0.8, v));
  }
  return pm;
}
