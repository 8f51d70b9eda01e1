#include "CLabelCache.h"

#include <QPaintDevice>
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
