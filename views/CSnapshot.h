// Pictures of the data views to share: the window as it shows, at its own size, with a
// caption line (firmware version, data stream, time) below it, covering nothing.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>
#include <string>

#include "CViewPrompts.h"

class QWidget;

namespace snapshot {

// "Firmware TPCSIM 1.0.0 | M0 raw data | 2026-12-08 10:00:00"; an unknown version shows
// as "Firmware unknown".
QString Caption(const std::string& firmware, const QString& stream, const QDateTime& when);
// The window rendered as it shows now, with the caption line below it.
QImage Picture(QWidget& window, const QString& caption);
// Height of the caption line in pixels.
int CaptionHeight();
// Chooses a PNG file and writes the picture; a failure is shown. False when cancelled
// or not written.
bool SaveImage(const CViewPrompts& prompts, const QImage& picture);
// Chooses a CSV file and writes the text; a failure is shown.
bool SaveCsv(const CViewPrompts& prompts, const std::string& text);

}  // namespace snapshot
