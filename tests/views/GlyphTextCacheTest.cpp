// Cached glyph runs and stamps against drawText: the same pixels for the texts the
// views print, overlapping one another on changing backgrounds.
#include <gtest/gtest.h>

#include <QFont>
#include <QImage>
#include <QPainter>
#include <functional>
#include <random>

#include "views/CGlyphTextCache.h"
#include "views/CRasterStamps.h"

namespace {

QFont Arial(int pt) {
  QFont f("Arial");
  f.setPointSize(pt);
  return f;
}

// Draws texts at positions 3 pixels apart on stripes of colour, once with drawText and
// once from the cache, and returns the first differing pixel (or none).
struct Pair {
  QImage slow{420, 120, QImage::Format_RGB32};
  QImage fast{420, 120, QImage::Format_RGB32};
  CGlyphTextCache cache;

  void Run(const QFont& font, const QColor& pen, int n, int w, int h,
           const std::function<QString(int)>& text,
           const std::function<const CGlyphTextCache::Entry&(CGlyphTextCache&, int)>& cached) {
    for (QImage* img : {&slow, &fast}) {
      img->fill(QColor(240, 240, 240));
      QPainter p(img);
      for (int s = 0; s < 12; ++s) p.fillRect(s * 35, 0, 17, 120, QColor(30 * s, 255 - 20 * s, 90));
    }
    QPainter ps(&slow), pf(&fast);
    for (QPainter* p : {&ps, &pf}) {
      p->setFont(font);
      p->setPen(pen);
      p->setBackgroundMode(Qt::TransparentMode);
      p->translate(4, 2);
    }
    cache.Use(pf);
    for (int k = 0; k < n; ++k) {
      const int x = (k * 3) % 380, y = (k / 127) * 13 + (k % 7);
      ps.drawText(QRect(x, y, w, h), Qt::AlignLeft | Qt::AlignTop, text(k));
      CGlyphTextCache::Draw(pf, x, y, w, h, cached(cache, k));
    }
  }
};

::testing::AssertionResult Same(const QImage& a, const QImage& b) {
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y))
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") differs";
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST(GlyphTextCache, CharactersNumbersAndTextsMatchDrawText) {
  const char kChars[] = "0123456789- ";
  Pair pair;
  // The Wave Window's label rows: one character in a 16 x 13 box, black.
  pair.Run(
      Arial(8), Qt::black, 600, 16, 13,
      [&](int k) { return QString(QChar::fromLatin1(kChars[k % 12])); },
      [&](CGlyphTextCache& c, int k) -> const CGlyphTextCache::Entry& {
        return c.Char(kChars[k % 12]);
      });
  EXPECT_TRUE(Same(pair.slow, pair.fast)) << "wave label characters";

  // The value map's numbers in several sizes, grey.
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> v(-510, 510);
  std::vector<int> values(300);
  for (int& x : values) x = v(rng);
  for (int pt : {3, 8, 11, 20}) {
    pair.Run(
        Arial(pt), QColor(77, 77, 77), 300, 230, 230,
        [&](int k) { return QString::number(values[k]); },
        [&](CGlyphTextCache& c, int k) -> const CGlyphTextCache::Entry& {
          return c.Number(values[k]);
        });
    EXPECT_TRUE(Same(pair.slow, pair.fast)) << "numbers at " << pt << " pt";
  }

  // Index labels, including boxes too small for the text (drawText clips then).
  for (int boxH : {20, 6}) {
    pair.Run(
        Arial(8), Qt::black, 255, 40, boxH, [&](int k) { return QString::asprintf("%02d", k); },
        [&](CGlyphTextCache& c, int k) -> const CGlyphTextCache::Entry& {
          return c.Text(QString::asprintf("%02d", k));
        });
    EXPECT_TRUE(Same(pair.slow, pair.fast)) << "index labels in boxes " << boxH << " high";
  }
}

TEST(GlyphTextCache, LaysOutEachTextOncePerFont) {
  QImage img(50, 50, QImage::Format_RGB32);
  QPainter p(&img);
  CGlyphTextCache cache;
  p.setFont(Arial(8));
  cache.Use(p);
  for (int k = 0; k < 3; ++k) {
    cache.Char('7');
    cache.Number(-42);
    cache.Text("(01, 02)");
  }
  EXPECT_EQ(cache.Layouts(), 3);
  cache.Use(p);  // same font: kept
  cache.Number(-42);
  EXPECT_EQ(cache.Layouts(), 3);
  p.setFont(Arial(9));  // another font: laid out again
  cache.Use(p);
  cache.Number(-42);
  EXPECT_EQ(cache.Layouts(), 4);
}

TEST(RasterStamps, StampsGiveThePaintersPixels) {
  // Labels and numbers overlapping on pixels of random colours, clipped and not.
  QImage slow(300, 90, QImage::Format_RGB32);
  std::mt19937 rng(9);
  for (int y = 0; y < slow.height(); ++y)
    for (int x = 0; x < slow.width(); ++x)
      slow.setPixel(x, y, qRgb(rng() & 255, rng() & 255, rng() & 255));
  QImage fast = slow.copy();
  for (int pt : {8, 11}) {
    QPainter ps(&slow), pf(&fast);
    for (QPainter* p : {&ps, &pf}) {
      p->setFont(Arial(pt));
      p->setPen(QColor(77, 77, 77));
    }
    CGlyphTextCache text;
    CRasterStamps stamps;
    text.Use(pf);
    stamps.Use(pf, fast);
    for (int k = 0; k < 60; ++k) {
      const CGlyphTextCache::Entry& e =
          k % 2 ? text.Number(k * 37 - 900) : text.Char("-0123456789"[k % 11]);
      const int x = (k * 5) % 260, y = (k % 6) * 11, h = k % 3 ? 40 : 7;
      CGlyphTextCache::Draw(ps, x, y, 60, h, e);
      ASSERT_TRUE(stamps.Stamp(fast, x, y, 60, h, e)) << k;
    }
    EXPECT_FALSE(stamps.Failed());
    EXPECT_GT(stamps.Learnt(), 0);
  }
  EXPECT_TRUE(Same(slow, fast));
}

TEST(RasterStamps, OnlyPlainRgbImagesAreWrittenDirectly) {
  QImage rgb(20, 20, QImage::Format_RGB32), argb(20, 20, QImage::Format_ARGB32_Premultiplied);
  int dx = 0, dy = 0;
  {
    QPainter p(&rgb);
    p.translate(3, 4);
    EXPECT_EQ(CRasterStamps::PlainImage(p, dx, dy), &rgb);
    EXPECT_EQ(dx, 3);
    EXPECT_EQ(dy, 4);
    p.translate(0.5, 0);
    EXPECT_EQ(CRasterStamps::PlainImage(p, dx, dy), nullptr);
    p.resetTransform();
    p.scale(2, 2);
    EXPECT_EQ(CRasterStamps::PlainImage(p, dx, dy), nullptr);
    p.resetTransform();
    p.setClipRect(0, 0, 5, 5);
    EXPECT_EQ(CRasterStamps::PlainImage(p, dx, dy), nullptr);
  }
  QPainter p(&argb);
  EXPECT_EQ(CRasterStamps::PlainImage(p, dx, dy), nullptr);
}
