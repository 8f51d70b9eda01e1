// Short texts laid out once and drawn as glyph runs. Drawing a cached run puts the same
// pixels on the surface as drawText with a top-left aligned rectangle at the same
// point, without laying the text out again on every call. One cache serves one font;
// a change of font or of the surface's resolution drops what was laid out.
#pragma once

#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <array>
#include <vector>

class QPainter;

class CGlyphTextCache {
 public:
  struct Entry {
    QList<QGlyphRun> runs;  // positions relative to the text's top-left corner
    QRectF bounds;          // the laid-out text, as drawText measures it
  };

  // Binds the cache to the painter's current font and surface.
  void Use(const QPainter& p);

  const Entry& Text(const QString& text);
  // A single Latin-1 character, from a table.
  const Entry& Char(char c);
  // The decimal text of v ("%d").
  const Entry& Number(int v);

  // drawText(QRect(x, y, w, h), Qt::AlignLeft | Qt::AlignTop, text) from the cached
  // layout: clipped to the rectangle when the text does not fit, as drawText does.
  static void Draw(QPainter& p, int x, int y, int w, int h, const Entry& e);

  // The number of layouts made so far (each distinct text once per font).
  int Layouts() const { return layouts_; }

 private:
  Entry Layout(const QString& text);

  QFont font_;
  QString fontKey_;
  int dpiX_ = 0;
  int dpiY_ = 0;
  bool bound_ = false;
  int layouts_ = 0;
  std::array<Entry, 256> chars_;
  std::array<bool, 256> haveChar_{};
  QHash<int, Entry> numbers_;
  QHash<QString, Entry> texts_;
};
