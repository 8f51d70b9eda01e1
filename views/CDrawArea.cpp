#include "CDrawArea.h"

#include <QMouseEvent>
#include <QPainter>

CDrawArea::CDrawArea(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QImage& CDrawArea::Image() {
  const QSize s = size().expandedTo(QSize(1, 1));
  if (image_.size() != s) {
    image_ = QImage(s, QImage::Format_RGB32);
    image_.fill(Qt::white);
    stale_ = true;
  }
  return image_;
}

void CDrawArea::Invalidate() {
  stale_ = true;
  update();
}

void CDrawArea::RepaintIfStale() {
  QImage& img = Image();
  if (!stale_) return;
  stale_ = false;
  if (onRepaint) onRepaint(img);
}

void CDrawArea::SetFrozen(bool on) {
  if (on == frozen_) return;
  if (on) {
    RepaintIfStale();
    still_ = image_.copy();
  } else {
    still_ = QImage();
  }
  frozen_ = on;
  update();
}

void CDrawArea::SetBanner(const QString& text) {
  if (text == banner_) return;
  banner_ = text;
  update();
}

void CDrawArea::paintEvent(QPaintEvent*) {
  RepaintIfStale();
  QPainter p(this);
  p.drawImage(0, 0, Shown());
  if (banner_.isEmpty()) return;
  QFont font = p.font();
  font.setBold(true);
  p.setFont(font);
  const QFontMetrics fm(font);
  const int w = fm.horizontalAdvance(banner_) + 16, h = fm.height() + 8;
  const QRect box((width() - w) / 2, 4, w, h);
  p.fillRect(box, BannerColour());
  p.setPen(Qt::white);
  p.drawText(box, Qt::AlignCenter, banner_);
}

void CDrawArea::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Invalidate();
}

void CDrawArea::mouseDoubleClickEvent(QMouseEvent* e) {
  if (onDoubleClick) onDoubleClick(e->position().toPoint(), e->buttons(), e->modifiers());
}
