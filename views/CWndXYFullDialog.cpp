#include "CWndXYFullDialog.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "CDrawArea.h"
#include "control/CSettingsRecord.h"

namespace {

QScreen* ScreenAt(QPoint pt) {
  QScreen* s = QGuiApplication::screenAt(pt);
  return s != nullptr ? s : QGuiApplication::primaryScreen();
}

QRect MonitorAt(QPoint pt) {
  QScreen* s = ScreenAt(pt);
  return s != nullptr ? s->geometry() : QRect(0, 0, 1024, 768);
}

}  // namespace

CWndXYFullDialog::CWndXYFullDialog(CTransCtrl& ctrl, CSettingsRecord& settings, CXYCoordDraw& draw,
                                   CPointStore& store, QWidget* parent)
    : QDialog(parent, Qt::Window),
      ctrl_(ctrl),
      settings_(settings),
      draw_(draw),
      handler_(ctrl, draw, store) {
  monitor_ = MonitorAt(QPoint(0, 0));
  setModal(false);
  area_ = new CDrawArea(this);
  handler_.SetArea(area_);
  area_->setObjectName("id1031");
  area_->onRepaint = [this](QImage& img) { Redraw(img); };
  area_->onDoubleClick = [this](QPoint pos, Qt::MouseButtons b, Qt::KeyboardModifiers) {
    OnDoubleClick(pos, b);
  };
  hint_ = new QLabel(QStringLiteral("Esc: back"), this);
  hint_->setObjectName("escHint");
  hint_->setStyleSheet(
      QStringLiteral("QLabel { background: rgba(0, 0, 0, 150); color: white; padding: 3px 8px; }"));
  hint_->adjustSize();
  hint_->hide();
  hintTimer_ = new QTimer(this);
  hintTimer_->setSingleShot(true);
  hintTimer_->setInterval(kHintMs);
  connect(hintTimer_, &QTimer::timeout, hint_, &QWidget::hide);
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    connect(s, &QScreen::geometryChanged, this, [this] { OnSettingChange(); });
  }
  resize(monitor_.size());
  PrepareDrawing(nullptr);
}

CWndXYFullDialog::~CWndXYFullDialog() {
  if (registered_) ctrl_.UnregisterListener(kSlot);
}

void CWndXYFullDialog::Register() {
  if (!registered_) ctrl_.RegisterListener(kSlot, 2, this);
}

void CWndXYFullDialog::ShowFullScreen() {
  // The window manager keeps a full-screen window above its panels, on the screen it
  // was put on.
  if (QScreen* s = ScreenAt(monitor_.topLeft())) setScreen(s);
  setGeometry(monitor_);
  showFullScreen();
}

void CWndXYFullDialog::PrepareDrawing(QImage* img) {
  Register();
  draw_.SetSuspended(true);
  draw_.SetSize(area_->width(), area_->height());
  draw_.SetCounts(settings_.xCount, settings_.yCount);
  draw_.SetResolution(settings_.resolution);
  if (img != nullptr) {
    QPainter p(img);
    draw_.DrawGrid(p);
  }
  registered_ = true;
}

void CWndXYFullDialog::Redraw(QImage& img) {
  img.fill(CXYCoordDraw::Background());
  PrepareDrawing(&img);
  QPainter p(&img);
  handler_.Replay(&p);
}

void CWndXYFullDialog::OnPaint() {
  area_->Invalidate();
  area_->RepaintIfStale();
}

void CWndXYFullDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  area_->Invalidate();
  hint_->move(16, 16);
  hint_->show();
  hint_->raise();
  hintTimer_->start();
}

void CWndXYFullDialog::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  area_->setGeometry(rect());
}

void CWndXYFullDialog::SetCounts(int xCount, int yCount) {
  draw_.SetCounts(xCount, yCount);
  area_->Invalidate();
}

int CWndXYFullDialog::OnTransCallback(int len, const uint8_t* bytes) {
  if (handler_.Handle(len, bytes, area_->Image(), true, nullptr)) area_->update();
  return 0;
}

void CWndXYFullDialog::OnDoubleClick(QPoint pos, Qt::MouseButtons buttons) {
  if (buttons != Qt::LeftButton) return;
  handler_.DrawQueuedValues();  // the marker goes over the cells that came before it
  QPainter p(&area_->Image());
  draw_.MarkCell(p, pos.x(), pos.y(), false);
  area_->update();
}

void CWndXYFullDialog::OnBnClickedBack() {
  if (QWidget* xy = parentWidget()) xy->show();
  draw_.SetSuspended(false);
  ctrl_.UnregisterListener(kSlot);
  registered_ = false;
  hide();
  draw_.SetRecomputeGrid();
  draw_.SetSkipNextReport(true);
}

void CWndXYFullDialog::OnSettingChange() {
  monitor_ = MonitorAt(monitor_.topLeft());
  if (isVisible()) ShowFullScreen();
  draw_.SetRecomputeGrid();
  area_->Invalidate();
}

void CWndXYFullDialog::closeEvent(QCloseEvent* e) {
  // Alt+F4 or the window manager's close: back to the XY Window, as Escape does.
  if (isVisible()) OnBnClickedBack();
  e->accept();
}

void CWndXYFullDialog::reject() {
  OnBnClickedBack();
}

void CWndXYFullDialog::accept() {
  hide();
}
