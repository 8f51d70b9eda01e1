// Fast drawing of short cached texts straight into an RGB32 image. The change each
// glyph makes to a pixel is learnt once from the painter itself (the glyph drawn on
// every grey level), then applied by table look-up, so the result is the painter's own
// pixels. Each learnt glyph is checked against the painter on a surface of many
// colours; if anything differs nothing is stamped any more and callers draw with the
// painter.
#pragma once

#include <QColor>
#include <QFont>
#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "CGlyphTextCache.h"

class CRasterStamps {
 public:
  // Binds to the painter's font, pen and render hints and the image's resolution;
  // forgets what was learnt when any of them changed.
  void Use(const QPainter& p, const QImage& img);
  bool Failed() const { return failed_; }

  // What CGlyphTextCache::Draw(p, x, y, w, h, e) draws, with (x, y) in device pixels.
  // False when it cannot be stamped (the caller draws it with the painter then).
  bool Stamp(QImage& img, int x, int y, int w, int h, const CGlyphTextCache::Entry& e);

  // The image under p when p draws into an unshared RGB32 image with nothing but a
  // whole-pixel translation, no clip, full opacity and source-over; (dx, dy) the
  // translation.
  static QImage* PlainImage(QPainter& p, int& dx, int& dy);
  // fillRect with an opaque colour, clipped to the image.
  static void Fill(QImage& img, int x, int y, int w, int h, QRgb colour);

  // Glyphs learnt since the last change of font (for tests).
  int Learnt() const { return static_cast<int>(glyphs_.size()); }

 private:
  struct Pixel {
    int16_t dx = 0;
    int16_t dy = 0;
    std::array<uint16_t, 3> table{};  // transfer table per channel: blue, green, red
  };
  struct Glyph {
    bool ok = false;
    std::vector<Pixel> pixels;
  };

  const Glyph* Find(quint32 index, int fx, int fy);
  Glyph Learn(quint32 index, int fx, int fy);
  bool Verify(const Glyph& g, quint32 index, int fx, int fy) const;
  // Within clip, which lies inside the image.
  void Apply(QImage& img, const QRect& clip, int x, int y, const Glyph& g) const;
  void DrawOne(QPainter& p, quint32 index, double x, double y) const;
  QImage Surface(int w, int h) const;
  void Prepare(QPainter& p) const;

  bool bound_ = false;
  bool failed_ = false;
  QFont font_;
  QString fontKey_;
  QColor pen_;
  QPainter::RenderHints hints_;
  int dpmX_ = 0;
  int dpmY_ = 0;
  QRawFont raw_;
  int pad_ = 16;
  std::unordered_map<uint64_t, Glyph> glyphs_;
  std::vector<std::array<uint8_t, 256>> tables_;
  std::unordered_map<std::string, uint16_t> tableIds_;
};
