#include "CLabelCache.h"

#include <QPaintDevice>
#include <algorithm>
#include <cmath>

namespace {

// Fonts size themselves by the surface's resolution: labels are made at the same one.
int DotsPerMeter(int dpi) {
  return static_cast<int>(std::lround(dpi / 0.0254));
}

}  // namespace

void CLabelCache::Use(const QPainter& p) {
  const QPaintDevice* dev = p.device();
  const qreal dpr = dev ? dev->devicePixelRatioF() : 1.0;
  const int dpmX = dev ? DotsPerMeter(dev->logicalDpiX()) : 0;
  const int dpmY = dev ? DotsPerMeter(dev->logicalDpiY()) : 0;
  const QColor pen = p.pen().color();
  if (bound_ && p.font() == font_ && p.font().key() == font_.key() && pen == pen_ && dpr == dpr_ &&
      dpmX == dpmX_ && dpmY == dpmY_)
    return;
  font_ = p.font();
  pen_ = pen;
  dpr_ = dpr;
  dpmX_ = dpmX;
  dpmY_ = dpmY;
  bound_ = true;
  labels_.clear();
}

QImage CLabelCache::Blank(QSize size) const {
  QImage img(size * dpr_, QImage::Format_ARGB32_Premultiplied);
  img.setDevicePixelRatio(dpr_);
  if (dpmX_ > 0 && dpmY_ > 0) {
    img.setDotsPerMeterX(dpmX_);
    img.setDotsPerMeterY(dpmY_);
  }
  img.fill(Qt::transparent);
  return img;
}

CLabelCache::Label CLabelCache::Inked(const QImage& img) const {
  // Cut to whole device pixels, which are logical ones only at a ratio of 1.
  if (dpr_ != 1.0) return Label{img, QPoint(0, 0)};
  int x0 = img.width(), y0 = img.height(), x1 = -1, y1 = -1;
  for (int y = 0; y < img.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
    for (int x = 0; x < img.width(); ++x) {
      if (qAlpha(line[x]) == 0) continue;
      x0 = std::min(x0, x);
      x1 = std::max(x1, x);
      y0 = std::min(y0, y);
      y1 = std::max(y1, y);
    }
  }
  Label label;
  if (x1 < 0) return label;  // nothing drawn
  label.image = img.copy(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
  label.offset = QPoint(x0, y0);
  return label;
}
