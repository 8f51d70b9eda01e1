#include "CWndXYFullDialog.h"

#include "CAccuracyMode.h"

#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QTimer>

#include "CDrawArea.h"
#include "CSnapshot.h"
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

constexpr int kModeMs = 100;  // figures of a statistics mode are redrawn this often

QString ModeName(MapMode m) {
  switch (m) {
    case MapMode::kNoise:
      return QStringLiteral("noise");
    case MapMode::kPeakToPeak:
      return QStringLiteral("peak-to-peak");
    case MapMode::kDifference:
      return QStringLiteral("difference");
    default:
      return QStringLiteral("value");
  }
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
  accuracy_ = new CAccuracyMode(this, [this](double x, double y, QPoint& px) {
    int X = 0, Y = 0;
    if (!draw_.MapScaled(static_cast<int>(x), static_cast<int>(y), X, Y)) return false;
    px = area_->geometry().topLeft() + QPoint(X, Y);
    return true;
  });
  hint_ = new QLabel(QStringLiteral("Esc: back"), this);
  hint_->setObjectName("escHint");
  hint_->setStyleSheet(
      QStringLiteral("QLabel { background: rgba(0, 0, 0, 150); color: white; padding: 3px 8px; }"));
  hint_->adjustSize();
  hint_->hide();
  prompts = CViewPrompts::ForWidget(this);
  // Full screen covers the main window's status line: notices go to the hint.
  prompts.notice = [this](const QString& text) {
    notice_ = text;
    UpdateModeHint();
    ShowModeHint();
  };
  modeHint_ = new QLabel(this);
  modeHint_->setObjectName("modeHint");
  modeHint_->setStyleSheet(
      QStringLiteral("QLabel { background: rgba(0, 0, 0, 150); color: white; padding: 3px 8px; }"));
  modeTimer_ = new QTimer(this);
  modeTimer_->setInterval(kModeMs);
  // Ticks while scans come; a tick that finds none new stops it until the next one.
  connect(modeTimer_, &QTimer::timeout, this, [this] {
    if (live_.TotalScans() != drawnScans_)
      DrawModeMap();
    else
      modeTimer_->stop();
  });
  modeTimer_->start();
  live_.SetWindow(settings_.live.scans);
  live_.SetCounts(ctrl_.Panel().xCount, ctrl_.Panel().yCount);
  feed_.owner = this;
  modeHintTimer_ = new QTimer(this);
  modeHintTimer_->setSingleShot(true);
  modeHintTimer_->setInterval(kModeHintMs);
  connect(modeHintTimer_, &QTimer::timeout, modeHint_, &QWidget::hide);
  modeHint_->hide();
  UpdateModeHint();
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
  ctrl_.UnregisterListener(kStatsSlot);
  if (registered_) ctrl_.UnregisterListener(kSlot);
}

void CWndXYFullDialog::Register() {
  if (!registered_) {
    ctrl_.RegisterListener(kSlot, kListenerActive, this);
    ctrl_.RegisterListener(kStatsSlot, kListenerActive, &feed_);
  }
}

void CWndXYFullDialog::Unregister() {
  ctrl_.UnregisterListener(kStatsSlot);
  ctrl_.UnregisterListener(kSlot);
  registered_ = false;
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
  const PanelInfo panel = ctrl_.Panel();
  draw_.SetCounts(panel.xCount, panel.yCount);
  draw_.SetResolution(panel.resolution);
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
  p.end();
  drawnScans_ = ~0ull;
  DrawModeMap();
}

QString CWndXYFullDialog::HintText() const {
  return modeHint_->text();
}

bool CWndXYFullDialog::HintShown() const {
  return modeHint_->isVisible();
}

// The hint lies over the map's data: after each change only its first line shows, for a
// while, at the bottom right (the maps' cells run along the top and down the left); H or
// F1 shows all of it at the top right.
void CWndXYFullDialog::ShowModeHint() {
  keysShown_ = false;
  UpdateModeHint();
  modeHint_->show();
  modeHint_->raise();
  modeHintTimer_->start();
}

void CWndXYFullDialog::ToggleHint() {
  if (modeHint_->isVisible() && keysShown_) {
    modeHintTimer_->stop();
    modeHint_->hide();
    return;
  }
  ShowModeHint();
  keysShown_ = true;
  UpdateModeHint();
}

void CWndXYFullDialog::PlaceModeHint() {
  const int y = keysShown_ ? 16 : height() - modeHint_->height() - 16;
  modeHint_->move(width() - modeHint_->width() - 16, y);
}

void CWndXYFullDialog::UpdateModeHint() {
  QString text = QStringLiteral("Map: %1").arg(ModeName(mode_));
  if (mode_ == MapMode::kValue && ValuesFromScans()) {
    text += QStringLiteral(" (last scan of %1)")
                .arg(QString::fromStdString(CLiveStats::StreamLabel(lastCode_)));
  } else if (mode_ != MapMode::kValue) {
    const std::string stream = CLiveStats::StreamLabel(lastCode_);
    text += QStringLiteral(" (%1 scans").arg(live_.Held());
    if (!stream.empty()) text += QStringLiteral(" of ") + QString::fromStdString(stream);
    text += QStringLiteral(")");
    if (live_.TotalScans() == 0 && lastCode_ < 0)
      text += QStringLiteral(" - waiting for a data stream");
  }
  if (!notice_.isEmpty()) text += QStringLiteral(" - ") + notice_;
  if (IsFrozen()) text += QStringLiteral("  FROZEN");
  if (keysShown_) {
    text += QStringLiteral(
        "\nV value  N noise  P peak-to-peak  D difference\n"
        "B take baseline  Ctrl+B save  Ctrl+L load\nSpace freeze  Ctrl+S save image\n"
        "A accuracy mode  Esc back\nH or F1 show/hide this hint");
  }
  if (modeHint_->text() == text) return;
  modeHint_->setText(text);
  modeHint_->adjustSize();
  PlaceModeHint();
  modeHint_->raise();
}

void CWndXYFullDialog::SetMode(MapMode mode) {
  mode_ = mode;
  notice_.clear();
  if (mode == MapMode::kDifference && !live_.HasBaseline())
    notice_ = QStringLiteral("no baseline: press B");
  UpdateModeHint();
  ShowModeHint();
  // Values still queued from the value map would be drawn over the new figures later.
  handler_.DrawQueuedValues();
  if (mode == MapMode::kValue) {
    // No figure stays under "value": the picture is drawn again (traces and all).
    area_->Invalidate();
    return;
  }
  // Only the map's cells change: the touch traces on the picture stay.
  drawnScans_ = ~0ull;
  DrawModeMap();
  area_->update();
}

void CWndXYFullDialog::DrawModeMap() {
  drawnScans_ = live_.TotalScans();
  UpdateModeHint();
  std::vector<int32_t> cells;
  // A difference with no baseline is no figure: blank cells.
  const bool blank = mode_ == MapMode::kDifference && !live_.HasBaseline();
  if (mode_ == MapMode::kValue) {
    if (!ValuesFromScans()) return;  // the frames draw their own values
    cells = live_.LastScan();
  } else {
    // Figures as values around the zero line 1000, so that the plain cells and colours
    // (-255..255) show them.
    const std::vector<double> v = live_.MapValues(mode_);
    cells.assign(v.size(), 1000);
    if (!blank) {
      for (size_t i = 0; i < v.size(); ++i)
        cells[i] = 1000 + static_cast<int32_t>(std::lround(v[i]));
    }
  }
  if (cells.empty()) return;
  const analysis::ScanLayout& l = live_.Layout();
  QPainter p(&area_->Image());
  // Only the row and the column of cells go to the screen, not the whole picture.
  QRegion changed;
  const int cols = std::min(draw_.XCount(), l.xCount), rows = std::min(draw_.YCount(), l.yCount);
  const int xRow = live_.XRow(), yCol = live_.YColumn();
  if (l.xCount > 0) {
    draw_.DrawValueMap(0, xRow, 1, cells.data(), l.xCount, p, !blank);
    if (cols > 0 && xRow < draw_.YCount())
      changed += QRect(QPoint(draw_.Column(0), draw_.Row(xRow)),
                       QPoint(draw_.Column(cols), draw_.Row(xRow + 1)));
  }
  if (l.yCount > 0) {
    draw_.DrawValueMap(yCol, 0, 0, cells.data() + l.xCount, l.yCount, p, !blank);
    if (rows > 0 && yCol < draw_.XCount())
      changed += QRect(QPoint(draw_.Column(yCol), draw_.Row(0)),
                       QPoint(draw_.Column(yCol + 1), draw_.Row(rows)));
  }
  area_->update(changed);
}

bool CWndXYFullDialog::TakeBaseline() {
  const bool ok = live_.TakeBaseline();
  notice_ = ok ? QStringLiteral("baseline taken") : QStringLiteral("no scan for a baseline yet");
  UpdateModeHint();
  ShowModeHint();
  if (ok && mode_ == MapMode::kDifference) DrawModeMap();
  return ok;
}

bool CWndXYFullDialog::SaveBaseline() {
  const QString path =
      prompts.ChooseSavePath(QStringLiteral("Baseline (*.toml)"), QStringLiteral(".toml"));
  if (path.isEmpty()) return false;
  std::string err;
  if (live_.SaveBaseline(QFile::encodeName(path).toStdString(), err)) {
    prompts.Saved(path);
    return true;
  }
  prompts.message(QString::fromStdString(err));
  return false;
}

bool CWndXYFullDialog::LoadBaseline() {
  const QString path =
      prompts.openFile ? prompts.openFile(QStringLiteral("Baseline (*.toml)")) : QString();
  if (path.isEmpty()) return false;
  std::string err;
  if (!live_.LoadBaseline(QFile::encodeName(path).toStdString(), err)) {
    prompts.message(QString::fromStdString(err));
    return false;
  }
  notice_ = QStringLiteral("baseline loaded");
  if (mode_ != MapMode::kValue) DrawModeMap();
  UpdateModeHint();
  return true;
}

void CWndXYFullDialog::SetFrozen(bool on) {
  area_->SetFrozen(on);
  UpdateModeHint();
  ShowModeHint();  // a still picture is never taken for a quiet controller
}

bool CWndXYFullDialog::IsFrozen() const {
  return area_->IsFrozen();
}

bool CWndXYFullDialog::OnSaveImage() {
  const std::string label = CLiveStats::StreamLabel(lastCode_);
  QString stream =
      label.empty() ? QStringLiteral("touch coordinates") : QString::fromStdString(label);
  stream += QStringLiteral(", ") + ModeName(mode_) + QStringLiteral(" map");
  modeHint_->hide();  // the picture is of the drawing
  const QImage img = snapshot::Picture(
      *this, snapshot::Caption(ctrl_.FirmwareVersion(), stream, QDateTime::currentDateTime()));
  modeHint_->show();
  return snapshot::SaveImage(prompts, img);
}

void CWndXYFullDialog::keyPressEvent(QKeyEvent* e) {
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  switch (e->key()) {
    case Qt::Key_V:
      SetMode(MapMode::kValue);
      break;
    case Qt::Key_N:
      SetMode(MapMode::kNoise);
      break;
    case Qt::Key_P:
      SetMode(MapMode::kPeakToPeak);
      break;
    case Qt::Key_D:
      SetMode(MapMode::kDifference);
      break;
    case Qt::Key_B:
      if (ctrl) {
        SaveBaseline();
      } else {
        TakeBaseline();
      }
      break;
    case Qt::Key_L:
      if (ctrl) LoadBaseline();
      break;
    case Qt::Key_S:
      if (ctrl) OnSaveImage();
      break;
    case Qt::Key_A:
      SetAccuracyMode(!accuracy_->IsOn());
      break;
    case Qt::Key_R:
      if (!accuracy_->IsOn()) return QDialog::keyPressEvent(e);
      accuracy_->Restart();
      break;
    case Qt::Key_Space:
      SetFrozen(!IsFrozen());
      break;
    case Qt::Key_H:
    case Qt::Key_F1:
      ToggleHint();
      break;
    default:
      QDialog::keyPressEvent(e);
      return;
  }
  e->accept();
}

void CWndXYFullDialog::OnPaint() {
  area_->Invalidate();
  area_->RepaintIfStale();
}

void CWndXYFullDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  // The panel may have changed since the last opening.
  live_.SetCounts(ctrl_.Panel().xCount, ctrl_.Panel().yCount);
  modeTimer_->start();
  area_->Invalidate();
  hint_->move(16, 16);
  hint_->show();
  hint_->raise();
  hintTimer_->start();
}

void CWndXYFullDialog::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  area_->setGeometry(rect());
  accuracy_->setGeometry(rect());
  PlaceModeHint();
}

void CWndXYFullDialog::SetCounts(int xCount, int yCount) {
  draw_.SetCounts(xCount, yCount);
  live_.SetCounts(xCount, yCount);
  modeTimer_->start();
  area_->Invalidate();
}

void CWndXYFullDialog::SetAccuracyMode(bool on) {
  if (on) {
    const PanelInfo p = ctrl_.Panel();
    const int xRange = p.xRange ? p.xRange : p.xCount * p.resolution;
    const int yRange = p.yRange ? p.yRange : p.yCount * p.resolution;
    if (draw_.XRange() == 0) draw_.SetRanges(xRange, yRange);
    accuracy_->setGeometry(rect());
    accuracy_->SetPanel(xRange, yRange, settings_.live.panelWidthMm, settings_.live.panelHeightMm);
  }
  accuracy_->SetOn(on);
}

int CWndXYFullDialog::StatsFeed::OnTransCallback(const TransFrame& frame) {
  const DataRecord* rec = frame.DataReport();
  if (frame.len >= 8 && rec != nullptr && rec->group == 0x4B) owner->AddRecord(*rec);
  return 0;
}

void CWndXYFullDialog::AddRecord(const DataRecord& rec) {
  // Another stream: no cell of the last one may stay under the new one's name.
  if (lastCode_ >= 0 && rec.code != lastCode_) area_->Invalidate();
  lastCode_ = rec.code;
  live_.Add(rec);
  if (!modeTimer_->isActive()) modeTimer_->start();
}

int CWndXYFullDialog::OnTransCallback(const TransFrame& frame) {
  accuracy_->OnFrame(frame.len, frame.bytes);
  const DataRecord* rec = frame.DataReport();
  const bool values = frame.len >= 8 && rec != nullptr && rec->group == 0x4B;
  if (values) routedCode_ = rec->code;
  // A statistics mode draws its figures on its timer, not the values as they come; the
  // figures come from the statistics feed.
  if (values && mode_ != MapMode::kValue) return 0;
  if (handler_.Handle(frame, area_->Image(), true, nullptr)) area_->update();
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
  area_->SetFrozen(false);  // shown again, it shows what comes
  if (QWidget* xy = parentWidget()) xy->show();
  draw_.SetSuspended(false);
  Unregister();
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
