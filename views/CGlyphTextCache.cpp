#include "CGlyphTextCache.h"

#include <QPaintDevice>
#include <QPainter>
#include <QTextLayout>

void CGlyphTextCache::Use(const QPainter& p) {
  const QPaintDevice* dev = p.device();
  const int dx = dev ? dev->logicalDpiX() : 0;
  const int dy = dev ? dev->logicalDpiY() : 0;
  const QFont& f = p.font();
  if (bound_ && dx == dpiX_ && dy == dpiY_ && f == font_ && f.key() == fontKey_) return;
  font_ = f;
  fontKey_ = f.key();
  dpiX_ = dx;
  dpiY_ = dy;
  bound_ = true;
  haveChar_.fill(false);
  for (Entry& e : chars_) e = Entry{};
  numbers_.clear();
  texts_.clear();
}

CGlyphTextCache::Entry CGlyphTextCache::Layout(const QString& text) {
  ++layouts_;
  QTextLayout layout(text, font_);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  qreal height = 0;
  qreal width = 0;
  while (line.isValid()) {
    line.setPosition(QPointF(0, height));
    height += line.height();
    width = qMax(width, line.naturalTextWidth());
    line = layout.createLine();
  }
  layout.endLayout();
  Entry e;
  e.runs = layout.glyphRuns();
  e.bounds = QRectF(0, 0, width, height);
  return e;
}

const CGlyphTextCache::Entry& CGlyphTextCache::Text(const QString& text) {
  auto it = texts_.find(text);
  if (it == texts_.end()) it = texts_.insert(text, Layout(text));
  return *it;
}

const CGlyphTextCache::Entry& CGlyphTextCache::Char(char c) {
  const auto k = static_cast<unsigned char>(c);
  if (!haveChar_[k]) {
    chars_[k] = Layout(QString(QChar::fromLatin1(c)));
    haveChar_[k] = true;
  }
  return chars_[k];
}

const CGlyphTextCache::Entry& CGlyphTextCache::Number(int v) {
  auto it = numbers_.find(v);
  if (it == numbers_.end()) it = numbers_.insert(v, Layout(QString::number(v)));
  return *it;
}

void CGlyphTextCache::Draw(QPainter& p, int x, int y, int w, int h, const Entry& e) {
  if (e.runs.isEmpty()) return;
  const QPointF origin(x, y);
  const bool clip = !QRectF(x, y, w, h).contains(e.bounds.translated(origin));
  if (clip) {
    p.save();
    p.setClipRect(QRect(x, y, w, h), Qt::IntersectClip);
  }
  for (const QGlyphRun& run : e.runs) p.drawGlyphRun(origin, run);
  if (clip) p.restore();
}
