#include "CDrawArea.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <algorithm>

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

void CDrawArea::ShowNotice(const QString& text) {
  if (noticeTimer_ == nullptr) {
    noticeTimer_ = new QTimer(this);
    noticeTimer_->setSingleShot(true);
    noticeTimer_->setInterval(kNoticeMs);
    connect(noticeTimer_, &QTimer::timeout, this, [this] {
      notice_.clear();
      update();
    });
  }
  notice_ = text;
  noticeTimer_->start();
  update();
}

QString CDrawArea::Notice() const {
  return notice_;
}

void CDrawArea::paintEvent(QPaintEvent*) {
  RepaintIfStale();
  QPainter p(this);
  p.drawImage(0, 0, Shown());
  QFont font = p.font();
  font.setBold(true);
  p.setFont(font);
  const QFontMetrics fm(font);
  const auto mark = [&](const QString& text, int y, const QColor& colour) {
    const int w = std::min(fm.horizontalAdvance(text) + 16, width()), h = fm.height() + 8;
    const QRect box((width() - w) / 2, y < 0 ? height() - h - 4 : y, w, h);
    p.fillRect(box, colour);
    p.setPen(Qt::white);
    p.drawText(box, Qt::AlignCenter, fm.elidedText(text, Qt::ElideMiddle, w - 16));
  };
  if (!banner_.isEmpty()) mark(banner_, 4, BannerColour());
  if (!notice_.isEmpty()) mark(notice_, -1, NoticeColour());
}

void CDrawArea::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Invalidate();
}

void CDrawArea::mouseDoubleClickEvent(QMouseEvent* e) {
  if (onDoubleClick) onDoubleClick(e->position().toPoint(), e->buttons(), e->modifiers());
}
