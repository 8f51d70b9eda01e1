#include "CSnapshot.h"

#include <QBuffer>
#include <QFile>
#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

#include "savefile/AtomicFile.h"

namespace snapshot {

QString Caption(const std::string& firmware, const QString& stream, const QDateTime& when) {
  const QString version =
      firmware.empty() ? QStringLiteral("unknown") : QString::fromStdString(firmware);
  return QStringLiteral("Firmware %1 | %2 | %3")
      .arg(version, stream, when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

namespace {

QFont CaptionFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(9);
  return font;
}

}  // namespace

int CaptionHeight() {
  return QFontMetrics(CaptionFont()).height() + 4;
}

QImage Picture(QWidget& window, const QString& caption) {
  QImage shot = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
  // grab() renders at the device pixel ratio; the file keeps the window's own size.
  if (shot.size() != window.size()) shot = shot.scaled(window.size());
  shot.setDevicePixelRatio(1);
  // The caption goes below the window: a table's last row stays readable.
  const int h = CaptionHeight();
  QImage img(shot.width(), shot.height() + h, QImage::Format_RGB32);
  img.fill(QColor(255, 255, 255));
  QPainter p(&img);
  p.drawImage(0, 0, shot);
  p.setFont(CaptionFont());
  p.setPen(Qt::black);
  p.drawText(QRect(4, shot.height(), img.width() - 4, h), Qt::AlignLeft | Qt::AlignVCenter,
             caption);
  return img;
}

bool SaveImage(const CViewPrompts& prompts, const QImage& picture) {
  const QString path =
      prompts.ChooseSavePath(QStringLiteral("PNG Image (*.png)"), QStringLiteral(".png"));
  if (path.isEmpty()) return false;
  // Written beside and renamed: a failed save never costs the file it replaces.
  QByteArray png;
  QBuffer buffer(&png);
  std::string why;
  if (buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG") &&
      savefile::AtomicFile::Write(QFile::encodeName(path).toStdString(),
                                  std::string(png.constData(), static_cast<size_t>(png.size())),
                                  why)) {
    prompts.Saved(path);
    return true;
  }
  if (prompts.message) prompts.message(QStringLiteral("Could not write the image file."));
  return false;
}

bool SaveCsv(const CViewPrompts& prompts, const std::string& text) {
  const QString path =
      prompts.ChooseSavePath(QStringLiteral("CSV File (*.csv)"), QStringLiteral(".csv"));
  if (path.isEmpty()) return false;
  std::string why;
  if (savefile::AtomicFile::Write(QFile::encodeName(path).toStdString(), text, why)) {
    prompts.Saved(path);
    return true;
  }
  if (prompts.message) prompts.message(QStringLiteral("Could not write the CSV file."));
  return false;
}

}  // namespace snapshot
