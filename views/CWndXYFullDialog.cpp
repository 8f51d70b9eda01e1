#include "CWndXYFullDialog.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "CDrawArea.h"
#include "control/CSettingsRecord.h"

namespace {

QRect MonitorAt(QPoint pt) {
  QScreen* s = QGuiApplication::screenAt(pt);
  if (s == nullptr) s = QGuiApplication::primaryScreen();
  return s != nullptr ? s->geometry() : QRect(0, 0, 1024, 768);
}

}  // namespace

CWndXYFullDialog::CWndXYFullDialog(CTransCtrl& ctrl, CSettingsRecord& settings, CXYCoordDraw& draw,
                                   CPointStore& store, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint),
      ctrl_(ctrl),
      settings_(settings),
      draw_(draw),
      handler_(ctrl, draw, store) {
  monitor_ = MonitorAt(QPoint(0, 0));
  setModal(false);
  area_ = new CDrawArea(this);
  area_->setObjectName("id1031");
  area_->onRepaint = [this](QImage& img) { Redraw(img); };
  area_->onDoubleClick = [this](QPoint pos, Qt::MouseButtons b, Qt::KeyboardModifiers) {
    OnDoubleClick(pos, b);
  };
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    connect(s, &QScreen::geometryChanged, this, [this] { OnSettingChange(); });
  }
  PrepareDrawing(nullptr);
}

CWndXYFullDialog::~CWndXYFullDialog() {
  if (registered_) ctrl_.UnregisterListener(kSlot);
}

void CWndXYFullDialog::Register() {
  if (!registered_) ctrl_.RegisterListener(kSlot, 2, this);
}

void CWndXYFullDialog::PrepareDrawing(QImage* img) {
  setGeometry(monitor_);
  area_->setGeometry(0, 0, monitor_.width(), monitor_.height());
  Register();
  draw_.SetSuspended(true);
  draw_.SetSize(monitor_.width(), monitor_.height());
  draw_.SetCounts(settings_.xCount, settings_.yCount);
  draw_.SetResolution(settings_.resolution);
  if (img != nullptr) {
    QPainter p(img);
    draw_.DrawGrid(p);
  }
  registered_ = true;
}

void CWndXYFullDialog::Redraw(QImage& img) {
  img.fill(Qt::white);
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
}

void CWndXYFullDialog::SetCounts(int xCount, int yCount) {
  draw_.SetCounts(xCount, yCount);
  area_->Invalidate();
}

int CWndXYFullDialog::OnTransCallback(int len, const uint8_t* bytes) {
  QPainter p(&area_->Image());
  if (handler_.Handle(len, bytes, &p, true, nullptr)) area_->update();
  return 0;
}

void CWndXYFullDialog::OnDoubleClick(QPoint pos, Qt::MouseButtons buttons) {
  if (buttons != Qt::LeftButton) return;
  QPainter p(&area_->Image());
  draw_.MarkCell(p, pos.x(), pos.y(), false, palette().color(QPalette::Window));
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
  draw_.SetRecomputeGrid();
  area_->Invalidate();
}

void CWndXYFullDialog::closeEvent(QCloseEvent* e) {
  // Stays on screen; frames stop until the next paint registers it again.
  ctrl_.UnregisterListener(kSlot);
  registered_ = false;
  e->ignore();
}

void CWndXYFullDialog::reject() {
  OnBnClickedBack();
}

void CWndXYFullDialog::accept() {
  hide();
}
