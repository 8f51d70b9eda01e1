// Label images: each distinct label is drawn once, with the painter's own text drawing,
// onto a transparent image and afterwards blitted. The views print many short labels
// from a small set (values and indices), so a frame costs one image copy per label
// instead of a text layout. Labels are kept for one font, pen colour and resolution;
// another one drops them.
#pragma once

#include <QCache>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QSize>

class CLabelCache {
 public:
  explicit CLabelCache(int maxLabels = 2048) : labels_(maxLabels) {}

  // A label's pixels: the inked part of the image it was drawn on, and where that part
  // lies in it (logical pixels).
  struct Label {
    QImage image;
    QPoint offset;
    // Blits the label with the top-left corner of its image at (x, y).
    void Draw(QPainter& p, int x, int y) const {
      if (!image.isNull()) p.drawImage(x + offset.x(), y + offset.y(), image);
    }
  };

  // Binds to the painter's font and pen colour and to its surface's resolution.
  void Use(const QPainter& p);

  // The label for key, made the first time by draw(QPainter&) on a transparent image of
  // size (logical pixels) with the bound font and pen; its top-left corner is (0, 0).
  template <typename Draw>
  const Label& Get(int key, QSize size, Draw&& draw) {
    if (const Label* label = labels_.object(key)) return *label;
    QImage img = Blank(size);
    {
      QPainter p(&img);
      p.setFont(font_);
      p.setPen(pen_);
      draw(p);
    }
    auto* label = new Label(Inked(img));
    labels_.insert(key, label);  // the cache owns it; fits, as every label costs 1
    return *label;
  }

  // Labels made since the last change of font, pen or resolution (tests).
  int Size() const { return static_cast<int>(labels_.size()); }

 private:
  QImage Blank(QSize size) const;
  // Only the pixels that were drawn: blending the transparent rest would cost time.
  Label Inked(const QImage& img) const;

  QCache<int, Label> labels_;
  QFont font_;
  QColor pen_;
  qreal dpr_ = 0;
  int dpmX_ = 0;
  int dpmY_ = 0;
  bool bound_ = false;
};
