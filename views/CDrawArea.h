// A drawing surface that keeps its picture in an image: windows draw into Image() as
// data arrives and the widget only copies the image to the screen.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

class QTimer;

class CDrawArea : public QWidget {
 public:
  explicit CDrawArea(QWidget* parent = nullptr);

  // The picture, sized to the widget.
  QImage& Image();
  // Marks the picture stale: onRepaint redraws it before the next copy to the screen.
  void Invalidate();
  bool IsStale() const { return stale_; }
  // Redraws now if the picture is stale (what a paint does).
  void RepaintIfStale();
  // Frozen, the screen keeps the picture of the moment of freezing while drawing into
  // Image() goes on; thawed, the current picture shows again.
  void SetFrozen(bool on);
  bool IsFrozen() const { return frozen_; }
  // What the screen shows.
  const QImage& Shown() const { return frozen_ ? still_ : image_; }
  // A mark over the picture at its top (the controller went away: the picture is old);
  // empty removes it. It is not part of the picture.
  void SetBanner(const QString& text);
  const QString& Banner() const { return banner_; }
  static QColor BannerColour() { return QColor(200, 0, 0); }
  // A short notice at the picture's foot for kNoticeMs ("Saved /x/y.png"), where the user
  // is looking; not part of the picture.
  static constexpr int kNoticeMs = 5000;
  void ShowNotice(const QString& text);
  QString Notice() const;
  static QColor NoticeColour() { return QColor(40, 40, 40); }

  std::function<void(QImage&)> onRepaint;
  std::function<void(QPoint pos, Qt::MouseButtons buttons, Qt::KeyboardModifiers mods)>
      onDoubleClick;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

 private:
  QImage image_;
  QImage still_;
  bool stale_ = true;
  bool frozen_ = false;
  QString banner_;
  QString notice_;
  QTimer* noticeTimer_ = nullptr;
};
