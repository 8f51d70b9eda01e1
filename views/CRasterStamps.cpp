#include "CRasterStamps.h"

#include <QFontMetrics>
#include <QPaintDevice>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <random>
#include <string>

namespace {

int Channel(QRgb c, int ch) {
  return ch == 0 ? qBlue(c) : (ch == 1 ? qGreen(c) : qRed(c));
}

constexpr size_t kMaxGlyphs = 512;
constexpr int kMaxTextHeight = 40;

// Glyph positions are whole 64ths of a pixel.
int Sixtyfourths(double v) {
  return static_cast<int>(std::lround(v * 64));
}

}  // namespace

void CRasterStamps::Use(const QPainter& p, const QImage& img) {
  const QFont& f = p.font();
  const QColor pen = p.pen().color();
  if (bound_ && f == font_ && f.key() == fontKey_ && pen == pen_ && p.renderHints() == hints_ &&
      img.dotsPerMeterX() == dpmX_ && img.dotsPerMeterY() == dpmY_)
    return;
  bound_ = true;
  failed_ = p.pen().style() != Qt::SolidLine || p.pen().brush().style() != Qt::SolidPattern;
  font_ = f;
  fontKey_ = f.key();
  pen_ = pen;
  hints_ = p.renderHints();
  dpmX_ = img.dotsPerMeterX();
  dpmY_ = img.dotsPerMeterY();
  raw_ = QRawFont();
  glyphs_.clear();
  tables_.clear();
  tableIds_.clear();
  // Large text is rare and costly to learn (it comes with few, large cells): the
  // painter draws it.
  const int height = QFontMetrics(f, &img).height();
  if (height > kMaxTextHeight) failed_ = true;
  pad_ = 2 * height + 4;
}

bool CRasterStamps::Stamp(QImage& img, int x, int y, int w, int h,
                          const CGlyphTextCache::Entry& e) {
  if (failed_) return false;
  if (e.runs.isEmpty()) return true;
  // Text that does not fit its box is clipped to it, as drawText does.
  QRect clip(0, 0, img.width(), img.height());
  if (!QRectF(x, y, w, h).contains(e.bounds.translated(x, y))) clip &= QRect(x, y, w, h);
  // Every glyph must be known before the first is stamped, so that a refusal leaves
  // the image untouched for the painter.
  struct Place {
    const Glyph* g;
    int x, y;
  };
  std::array<Place, 16> places;
  size_t n = 0;
  for (const QGlyphRun& run : e.runs) {
    if (!raw_.isValid()) raw_ = run.rawFont();
    if (run.rawFont() != raw_ || run.flags() != QGlyphRun::GlyphRunFlags()) return false;
    const QList<quint32> index = run.glyphIndexes();
    const QList<QPointF> pos = run.positions();
    if (index.size() != pos.size()) return false;
    for (qsizetype k = 0; k < index.size(); ++k) {
      if (n == places.size()) return false;
      const int px = x * 64 + Sixtyfourths(pos[k].x());
      const int py = y * 64 + Sixtyfourths(pos[k].y());
      const int ix = px >> 6, iy = py >> 6;  // floor
      const Glyph* g = Find(index[k], px - ix * 64, py - iy * 64);
      if (g == nullptr) return false;
      places[n++] = {g, ix, iy};
    }
  }
  for (size_t k = 0; k < n; ++k) Apply(img, clip, places[k].x, places[k].y, *places[k].g);
  return true;
}

const CRasterStamps::Glyph* CRasterStamps::Find(quint32 index, int fx, int fy) {
  const uint64_t key = (uint64_t{index} << 16) | (uint64_t(fx) << 8) | uint64_t(fy);
  auto it = glyphs_.find(key);
  if (it == glyphs_.end()) {
    if (glyphs_.size() >= kMaxGlyphs) {
      failed_ = true;  // not worth learning more: the painter draws from here on
      return nullptr;
    }
    Glyph g = Learn(index, fx, fy);
    g.ok = g.ok && Verify(g, index, fx, fy);
    if (!g.ok) failed_ = true;
    it = glyphs_.emplace(key, std::move(g)).first;
  }
  return it->second.ok ? &it->second : nullptr;
}

QImage CRasterStamps::Surface(int w, int h) const {
  QImage img(w, h, QImage::Format_RGB32);
  img.setDotsPerMeterX(dpmX_);
  img.setDotsPerMeterY(dpmY_);
  return img;
}

void CRasterStamps::Prepare(QPainter& p) const {
  p.setRenderHints(hints_, true);
  p.setRenderHints(~hints_, false);
  p.setFont(font_);
  p.setPen(pen_);
  p.setBackgroundMode(Qt::TransparentMode);
}

void CRasterStamps::DrawOne(QPainter& p, quint32 index, double x, double y) const {
  QGlyphRun run;
  run.setRawFont(raw_);
  run.setGlyphIndexes({index});
  run.setPositions({QPointF(0, 0)});
  p.drawGlyphRun(QPointF(x, y), run);
}

// Where the glyph changes anything: drawn on black and on white. Pixels of the box
// found there, with a margin, get a transfer table: the glyph drawn once per grey
// level, each level in a band of its own.
CRasterStamps::Glyph CRasterStamps::Learn(quint32 index, int fx, int fy) {
  Glyph g;
  const int size = 2 * pad_;
  const double gx = fx / 64.0, gy = fy / 64.0;
  QImage ends = Surface(size, 2 * size);
  ends.fill(qRgb(0, 0, 0));
  {
    QPainter p(&ends);
    p.fillRect(0, size, size, size, QColor(255, 255, 255));
    Prepare(p);
    DrawOne(p, index, pad_ + gx, pad_ + gy);
    DrawOne(p, index, pad_ + gx, size + pad_ + gy);
  }
  QRect box;
  for (int y = 0; y < size; ++y) {
    const auto* black = reinterpret_cast<const QRgb*>(ends.constScanLine(y));
    const auto* white = reinterpret_cast<const QRgb*>(ends.constScanLine(size + y));
    for (int x = 0; x < size; ++x) {
      if ((black[x] & 0xffffff) != 0 || (white[x] & 0xffffff) != 0xffffff) box |= QRect(x, y, 1, 1);
    }
  }
  if (box.isEmpty()) {
    g.ok = true;  // draws nothing
    return g;
  }
  constexpr int kMargin = 2;
  box.adjust(-kMargin, -kMargin, kMargin, kMargin);
  // A glyph reaching the edge of the surface may have been cut off there.
  if (box.left() < 1 || box.top() < 1 || box.right() >= size - 1 || box.bottom() >= size - 1)
    return g;

  constexpr int gap = 8;  // between bands, for anything drawn outside the box
  const int band = box.height() + 2 * gap;
  QImage levels = Surface(box.width(), 256 * band);
  {
    QPainter p(&levels);
    for (int d = 0; d < 256; ++d) p.fillRect(0, d * band, box.width(), band, QColor(d, d, d));
    Prepare(p);
    for (int d = 0; d < 256; ++d) {
      DrawOne(p, index, pad_ - box.left() + gx, d * band + gap + pad_ - box.top() + gy);
    }
  }
  std::string t(256, '\0');
  for (int y = 0; y < box.height(); ++y) {
    for (int x = 0; x < box.width(); ++x) {
      Pixel px;
      px.dx = static_cast<int16_t>(x + box.left() - pad_);
      px.dy = static_cast<int16_t>(y + box.top() - pad_);
      bool changes = false;
      for (int ch = 0; ch < 3; ++ch) {
        for (int d = 0; d < 256; ++d) {
          const auto* line =
              reinterpret_cast<const QRgb*>(levels.constScanLine(d * band + gap + y));
          t[d] = static_cast<char>(Channel(line[x], ch));
          changes |= static_cast<uint8_t>(t[d]) != d;
        }
        auto it = tableIds_.find(t);
        if (it == tableIds_.end()) {
          if (tables_.size() >= 0xffff) return g;
          it = tableIds_.emplace(t, static_cast<uint16_t>(tables_.size())).first;
          tables_.emplace_back();
          std::copy(t.begin(), t.end(), tables_.back().begin());
        }
        px.table[ch] = it->second;
      }
      if (changes) g.pixels.push_back(px);
    }
  }
  g.ok = true;
  return g;
}

// The glyph three times, overlapping, on pixels of random colours: painter and stamps.
bool CRasterStamps::Verify(const Glyph& g, quint32 index, int fx, int fy) const {
  const int w = 4 * pad_, h = 3 * pad_;
  QImage slow = Surface(w, h);
  std::mt19937 rng(index * 4099u + static_cast<unsigned>(fx * 64 + fy));
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(slow.scanLine(y));
    for (int x = 0; x < w; ++x) line[x] = qRgb(rng() & 255, rng() & 255, rng() & 255);
  }
  QImage fast = slow.copy();
  QPainter p(&slow);
  Prepare(p);
  for (int k = 0; k < 3; ++k) {
    const int x = pad_ + k * 2, y = pad_ + k;
    DrawOne(p, index, x + fx / 64.0, y + fy / 64.0);
    Apply(fast, fast.rect(), x, y, g);
  }
  p.end();
  return slow == fast;
}

void CRasterStamps::Apply(QImage& img, const QRect& clip, int x, int y, const Glyph& g) const {
  const int x0 = clip.left(), y0 = clip.top(), x1 = clip.right(), y1 = clip.bottom();
  uchar* bits = img.bits();
  const qsizetype bpl = img.bytesPerLine();
  for (const Pixel& px : g.pixels) {
    const int X = x + px.dx, Y = y + px.dy;
    if (X < x0 || Y < y0 || X > x1 || Y > y1) continue;
    auto* p = reinterpret_cast<QRgb*>(bits + Y * bpl) + X;
    const QRgb v = *p;
    *p = qRgb(tables_[px.table[2]][qRed(v)], tables_[px.table[1]][qGreen(v)],
              tables_[px.table[0]][qBlue(v)]);
  }
}

QImage* CRasterStamps::PlainImage(QPainter& p, int& dx, int& dy) {
  QPaintDevice* dev = p.device();
  if (dev == nullptr || dev->devType() != QInternal::Image) return nullptr;
  auto* img = static_cast<QImage*>(dev);
  // A shared image would be copied by writing to it, away from the painter's buffer.
  if (img->format() != QImage::Format_RGB32 || !img->isDetached() || p.hasClipping() ||
      p.opacity() != 1.0 || p.compositionMode() != QPainter::CompositionMode_SourceOver)
    return nullptr;
  const QTransform t = p.deviceTransform();
  if (t.type() > QTransform::TxTranslate) return nullptr;
  const double fx = std::floor(t.dx()), fy = std::floor(t.dy());
  if (fx != t.dx() || fy != t.dy()) return nullptr;
  dx = static_cast<int>(fx);
  dy = static_cast<int>(fy);
  return img;
}

void CRasterStamps::Fill(QImage& img, int x, int y, int w, int h, QRgb colour) {
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = std::min(x + w, img.width()), y1 = std::min(y + h, img.height());
  if (x0 >= x1 || y0 >= y1) return;
  const QRgb c = colour | 0xff000000u;
  uchar* bits = img.bits();
  const qsizetype bpl = img.bytesPerLine();
  for (int yy = y0; yy < y1; ++yy) {
    auto* line = reinterpret_cast<QRgb*>(bits + yy * bpl);
    std::fill(line + x0, line + x1, c);
  }
}
