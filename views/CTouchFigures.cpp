#include "CTouchFigures.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

CTouchFigures::CTouchFigures(QWidget* window, QWidget* area) : QObject(window) {
  clock = [] {
    static QElapsedTimer t;
    if (!t.isValid()) t.start();
    return static_cast<int64_t>(t.nsecsElapsed() / 1000);
  };
  box_ = new QCheckBox(QStringLiteral("Touch figures"), window);
  box_->setObjectName("touchFigures");
  label_ = new QLabel(area);
  label_->setObjectName("touchFiguresText");
  label_->setStyleSheet(
      QStringLiteral("QLabel { background: rgba(0, 0, 0, 150); color: white; padding: 3px 8px; }"));
  label_->move(8, 8);
  label_->hide();
  timer_ = new QTimer(this);
  timer_->setInterval(kRefreshMs);
  connect(timer_, &QTimer::timeout, this, [this] { Refresh(); });
  connect(box_, &QCheckBox::toggled, this, [this](bool on) { SetOn(on); });
}

bool CTouchFigures::IsOn() const {
  return box_->isChecked();
}

void CTouchFigures::SetOn(bool on) {
  if (box_->isChecked() != on) box_->setChecked(on);  // toggled comes back here
  figures_.Clear();
  label_->setVisible(on);
  if (on) {
    timer_->start();
    Refresh();
  } else {
    timer_->stop();
  }
}

void CTouchFigures::SetPanel(int xRange, int yRange, double widthMm, double heightMm) {
  const analysis::TouchGeometry g{static_cast<double>(xRange), static_cast<double>(yRange),
                                  widthMm, heightMm};
  figures_.SetGeometry(g);
  hasMm_ = g.HasMm();
}

void CTouchFigures::OnFrame(int len, const uint8_t* bytes) {
  if (!IsOn()) return;
  analysis::TouchReport r;
  if (analysis::DecodeTouchReport(bytes, len, clock(), r)) figures_.Add(r);
}

QString CTouchFigures::Text() const {
  return label_->text();
}

void CTouchFigures::Refresh() {
  QString text;
  for (const auto& f : figures_.Now(clock())) {
    if (!text.isEmpty()) text += QLatin1Char('\n');
    // By the contact's id: the Report Rate's "F1" counts by position in the report.
    text += QStringLiteral("contact %1: %2 Hz").arg(f.id).arg(f.hz, 0, 'f', 0);
    if (f.jitterMm) text += QStringLiteral(", held, jitter %1 mm").arg(*f.jitterMm, 0, 'f', 2);
  }
  if (text.isEmpty()) text = QStringLiteral("No contact");
  if (!hasMm_) text += QStringLiteral("\n(no panel size: no mm)");
  label_->setText(text);
  label_->adjustSize();
  label_->raise();
}
