#include "CAccuracyMode.h"

#include <QPainter>

CAccuracyMode::CAccuracyMode(QWidget* parent, MapFn toScreen)
    : QWidget(parent), toScreen_(std::move(toScreen)) {
  setObjectName("accuracyMode");
  setAttribute(Qt::WA_TransparentForMouseEvents);
  hide();
}

void CAccuracyMode::SetOn(bool on) {
  on_ = on;
  if (on) Restart();
  setVisible(on);
  if (on) raise();
}

void CAccuracyMode::SetPanel(int xRange, int yRange, double widthMm, double heightMm, int columns,
                             int rows) {
  geometry_ = analysis::TouchGeometry{static_cast<double>(xRange), static_cast<double>(yRange),
                                      widthMm, heightMm};
  grid_ = std::make_unique<analysis::TargetGrid>(geometry_, analysis::TouchLimits{}, columns, rows);
  update();
}

void CAccuracyMode::Restart() {
  if (grid_) grid_->Restart();
  update();
}

void CAccuracyMode::OnFrame(int len, const uint8_t* bytes) {
  if (!IsOn() || !grid_) return;
  analysis::TouchReport r;
  if (!analysis::DecodeTouchReport(bytes, len, 0, r)) return;
  const int before = grid_->Current();
  grid_->Add(r);
  if (grid_->Current() != before) update();
}

QString CAccuracyMode::StatusText() const {
  if (!grid_ || !geometry_.HasMm())
    return QStringLiteral("Accuracy: the panel size is not known (PanelWidthMm and PanelHeightMm "
                          "in [LIVE_ANALYSIS] of the settings file). A: leave");
  const int n = static_cast<int>(grid_->Targets().size());
  if (grid_->Current() >= 0)
    return QStringLiteral("Accuracy: tap target %1 of %2 (the red ring). R: start again, A: leave")
        .arg(grid_->Current() + 1)
        .arg(n);
  const int passed = grid_->Passed();
  return QStringLiteral("Accuracy: %1 - %2 of %3 targets within their limit. R: start again, A: leave")
      .arg(passed == n ? QStringLiteral("PASS") : QStringLiteral("FAIL"))
      .arg(passed)
      .arg(n);
}

void CAccuracyMode::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QString status = StatusText();
  QFont f = font();
  f.setPointSize(12);
  p.setFont(f);
  // The box lies under the text: both around the text's baseline.
  const QPoint base(16, height() - 40);
  p.fillRect(p.fontMetrics().boundingRect(status).translated(base).adjusted(-8, -4, 8, 4),
             QColor(0, 0, 0, 170));
  p.setPen(Qt::white);
  p.drawText(base, status);
  if (!grid_ || !geometry_.HasMm()) return;
  const auto& targets = grid_->Targets();
  for (size_t i = 0; i < targets.size(); ++i) {
    const auto& t = targets[i];
    QPoint c;
    if (!toScreen_(t.x, t.y, c)) continue;
    const bool current = static_cast<int>(i) == grid_->Current();
    const QColor colour = t.errorMm ? (t.pass ? QColor(0, 150, 0) : QColor(200, 0, 0))
                          : current ? QColor(220, 0, 0)
                                    : QColor(90, 90, 90);
    p.setPen(QPen(colour, current ? 3 : 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, current ? 18 : 12, current ? 18 : 12);
    p.drawLine(c + QPoint(-24, 0), c + QPoint(24, 0));
    p.drawLine(c + QPoint(0, -24), c + QPoint(0, 24));
    if (t.errorMm) {
      const QString text = QStringLiteral("%1 mm %2")
                               .arg(*t.errorMm, 0, 'f', 2)
                               .arg(t.pass ? QStringLiteral("ok") : QStringLiteral("FAIL"));
      const QPoint at = c + QPoint(26, -8);
      p.fillRect(p.fontMetrics().boundingRect(text).translated(at).adjusted(-4, -2, 4, 2),
                 QColor(255, 255, 255, 220));
      p.setPen(colour);
      p.drawText(at, text);
    }
  }
}
