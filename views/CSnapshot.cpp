#include "CSnapshot.h"

#include <QBuffer>
#include <QFile>
#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

#include "analysis/AtomicFile.h"

namespace snapshot {

QString Caption(const std::string& firmware, const QString& stream, const QDateTime& when) {
  const QString version =
      firmware.empty() ? QStringLiteral("unknown") : QString::fromStdString(firmware);
  return QStringLiteral("Firmware %1 | %2 | %3")
      .arg(version, stream, when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

QImage Picture(QWidget& window, const QString& caption) {
  QImage img = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
  // grab() renders at the device pixel ratio; the file keeps the window's own size.
  if (img.size() != window.size()) img = img.scaled(window.size());
  img.setDevicePixelRatio(1);
  QPainter p(&img);
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(9);
  p.setFont(font);
  const QFontMetrics fm(font);
  const int h = fm.height() + 4;
  const QRect box(0, img.height() - h, std::min(fm.horizontalAdvance(caption) + 8, img.width()), h);
  p.fillRect(box, QColor(255, 255, 255));
  p.setPen(Qt::black);
  p.drawText(box.adjusted(4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, caption);
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
      analysis::AtomicFile::Write(QFile::encodeName(path).toStdString(),
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
  if (analysis::AtomicFile::Write(QFile::encodeName(path).toStdString(), text, why)) {
    prompts.Saved(path);
    return true;
  }
  if (prompts.message) prompts.message(QStringLiteral("Could not write the CSV file."));
  return false;
}

}  // namespace snapshot
