#include "CWndXYDialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <algorithm>

#include "CDrawArea.h"
#include "CSnapshot.h"
#include "CTouchFigures.h"
#include "CWndXYFullDialog.h"
#include "control/CSettingsRecord.h"

namespace {

const char* const kXYHeader = "Time,X1,Y1,Z1,X2,Y2,Z2,Pen,Up/Down";
constexpr int kMinLayoutW = 586;
constexpr int kMinLayoutH = 140;
constexpr int kBottomBand = 120;
// Report rate field ids F1 ... F10.
constexpr int kRateIds[CWndXYDialog::kCounters] = {1128, 1129, 1130, 1133, 1136,
                                                   1139, 1142, 1145, 1148, 1151};

}  // namespace

CWndXYDialog::CWndXYDialog(CTransCtrl& ctrl, CSettingsRecord& settings, CXYCoordDraw& draw,
                           CPointStore& store, QWidget* parent)
    : QDialog(parent),
      ctrl_(ctrl),
      settings_(settings),
      draw_(draw),
      store_(store),
      handler_(ctrl, draw, store) {
  prompts = CViewPrompts::ForWidget(this);
  clock = &CCsvLog::ProcessClockMs;
  setModal(false);
  logging_ = false;
  store_.Clear();
  draw_.CreatePens();
  ctrl_.RegisterListener(kSlot, kListenerActive, this);
  BuildControls();
  prompts.notice = [this, toMain = prompts.notice](const QString& text) {
    area_->ShowNotice(text);
    if (toMain) toMain(text);
  };
  timer_ = new QTimer(this);
  timer_->setInterval(kRateTimerMs);
  connect(timer_, &QTimer::timeout, this, [this] { OnTimer(); });
  timer_->start();
  setWindowTitle(QStringLiteral("XY Window"));
  resize(700, 620);
  LayoutControls(700, 620);
  settings_.startup.XYWindow = 1;
}

CWndXYDialog::~CWndXYDialog() {
  // The controller must never deliver to a window that is gone.
  ctrl_.UnregisterListener(kSlot);
}

bool CWndXYDialog::OnSaveImage() {
  const QImage img = snapshot::Picture(
      *this, snapshot::Caption(ctrl_.FirmwareVersion(), QStringLiteral("touch coordinates"),
                               QDateTime::currentDateTime()));
  return snapshot::SaveImage(prompts, img);
}

void CWndXYDialog::BuildControls() {
  auto* save = new QShortcut(QKeySequence::Save, this);
  connect(save, &QShortcut::activated, this, [this] { OnSaveImage(); });
  area_ = new CDrawArea(this);
  handler_.SetArea(area_);
  area_->setObjectName("id1031");
  area_->onRepaint = [this](QImage& img) { Redraw(img); };
  area_->onDoubleClick = [this](QPoint pos, Qt::MouseButtons b, Qt::KeyboardModifiers m) {
    // Window coordinates: the drawing area's inside starts 3 pixels in.
    OnDoubleClick(pos + QPoint(3, 3), b, m);
  };
  frameGroup_ = new QGroupBox(this);
  frameGroup_->setObjectName("id1122");
  auto button = [this](const char* text, int id) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setObjectName(QStringLiteral("id%1").arg(id));
    return b;
  };
  clearButton_ = button("&Clear", 1299);
  expandButton_ = button("&Expand", 1298);
  logButton_ = button("Log &File", 1023);
  connect(clearButton_, &QPushButton::clicked, this, [this] { OnBnClickedClear(); });
  connect(expandButton_, &QPushButton::clicked, this, [this] { OnBnClickedExpand(); });
  connect(logButton_, &QPushButton::clicked, this, [this] { OnBnClickedLogFile(); });
  pathEdit_ = new QLineEdit(this);
  pathEdit_->setObjectName("id1012");
  pathEdit_->setReadOnly(true);
  rateGroup_ = new QGroupBox(QStringLiteral("Report Rate"), this);
  rateGroup_->setObjectName("id1127");
  for (int i = 0; i < kCounters; ++i) {
    rateLabels_[i] = new QLabel(QStringLiteral("F%1:").arg(i + 1), this);
    rateEdits_[i] = new QLineEdit(this);
    rateEdits_[i]->setObjectName(QStringLiteral("id%1").arg(kRateIds[i]));
    rateEdits_[i]->setReadOnly(true);
    hzLabels_[i] = new QLabel(QStringLiteral("Hz"), this);
  }
  figures_ = new CTouchFigures(this, area_);
}

void CWndXYDialog::LayoutControls(int width, int height) {
  const int w = std::max(width, kMinLayoutW);
  const int h = std::max(height, kMinLayoutH);
  area_->setGeometry(0, 0, w, h - kBottomBand);
  frameGroup_->setGeometry(7, h - 120, w - 14, 115);
  clearButton_->setGeometry(16, h - 105, 90, 26);
  expandButton_->setGeometry(16, h - 75, 90, 26);
  logButton_->setGeometry(16, h - 45, 90, 26);
  pathEdit_->setGeometry(116, h - 40, w - 116 - 16, 22);
  rateGroup_->setGeometry(116, h - 110, 450, 66);
  for (int i = 0; i < kCounters; ++i) {
    const int x = 124 + (i % 5) * 88;
    const int y = i < 5 ? h - 90 : h - 65;
    rateLabels_[i]->setGeometry(x, y, 28, 22);
    rateEdits_[i]->setGeometry(x + 28, y, 34, 22);
    hzLabels_[i]->setGeometry(x + 64, y, 20, 22);
  }
  figures_->CheckBox()->setGeometry(576, h - 108, w - 576 - 16, 22);
}

void CWndXYDialog::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  LayoutControls(width(), height());
  draw_.SetRecomputeGrid();
  area_->Invalidate();
}

void CWndXYDialog::SetCounts(int xCount, int yCount) {
  draw_.SetCounts(xCount, yCount);
  area_->Invalidate();
}

bool CWndXYDialog::IsFullScreenVisible() const {
  return full_ != nullptr && full_->isVisible();
}

void CWndXYDialog::OnBnClickedBack() {
  if (full_ != nullptr) full_->OnBnClickedBack();
}

void CWndXYDialog::PrepareDrawing(QImage& img) {
  if (!registered_) ctrl_.RegisterListener(kSlot, kListenerActive, this);
  draw_.SetSuspended(false);
  draw_.SetSize(area_->width(), area_->height());
  const PanelInfo panel = ctrl_.Panel();
  draw_.SetCounts(panel.xCount, panel.yCount);
  draw_.SetResolution(panel.resolution);
  if (ctrl_.GetLinkState() != kLinkClosed) {
    draw_.SetRanges(panel.xRange, panel.yRange);
    figures_->SetPanel(panel.xRange, panel.yRange, settings_.live.panelWidthMm,
                       settings_.live.panelHeightMm);
  }
  QPainter p(&img);
  draw_.DrawGrid(p);
  registered_ = true;
}

void CWndXYDialog::Redraw(QImage& img) {
  img.fill(CXYCoordDraw::Background());
  PrepareDrawing(img);
  QPainter p(&img);
  handler_.Replay(&p);
}

void CWndXYDialog::OnPaint() {
  area_->Invalidate();
  area_->RepaintIfStale();
}

void CWndXYDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  settings_.startup.XYWindow = 1;
  area_->Invalidate();
}

int CWndXYDialog::OnTransCallback(const TransFrame& frame) {
  if (!registered_) return 1;
  if (draw_.IsSuspended()) return 0;
  figures_->OnFrame(frame.len, frame.bytes);
  const bool changed = handler_.Handle(frame, area_->Image(), false,
                                       [this](const TouchPoint& pt, int k, bool serial) {
                                         // Only multi-point reports are counted, and only positions
                                         // 0 ... 9.
                                         if (!serial && k < kCounters) ++counters_[k];
                                         if (logging_) WriteXYLogLine(pt, serial);
                                       });
  if (changed) area_->update();
  return 0;
}

void CWndXYDialog::OnTimer() {
  for (int i = 0; i < kCounters; ++i) {
    rateEdits_[i]->setText(QString::asprintf("%02d", counters_[i]));
    counters_[i] = 0;
  }
}

QString CWndXYDialog::RateText(int i) const {
  return rateEdits_[i]->text();
}

void CWndXYDialog::OnBnClickedClear() {
  if (draw_.IsSuspended()) return;
  store_.Clear();
  area_->Invalidate();
}

void CWndXYDialog::OnBnClickedExpand() {
  if (full_ == nullptr) {
    full_ = new CWndXYFullDialog(ctrl_, settings_, draw_, store_, this);
  }
  full_->ShowFullScreen();
  draw_.SetSuspended(true);
  registered_ = false;
  ctrl_.UnregisterListener(kSlot);
  hide();
  draw_.SetRecomputeGrid();
  draw_.SetSkipNextReport(true);
}

void CWndXYDialog::OnDoubleClick(QPoint windowPos, Qt::MouseButtons buttons,
                                 Qt::KeyboardModifiers mods) {
  if (buttons != Qt::LeftButton || mods != Qt::NoModifier) return;
  handler_.DrawQueuedValues();  // the marker goes over the cells that came before it
  QPainter p(&area_->Image());
  draw_.MarkCell(p, windowPos.x(), windowPos.y(), true);
  area_->update();
}

void CWndXYDialog::closeEvent(QCloseEvent* e) {
  ctrl_.UnregisterListener(kSlot);
  settings_.startup.XYWindow = 0;
  registered_ = false;
  hide();
  store_.Clear();
  e->accept();
}

void CWndXYDialog::OnBnClickedLogFile() {
  if (!logging_) {
    StartXYLog();
    logging_ = log_.IsOpen();
    return;
  }
  StopXYLog();
}

void CWndXYDialog::StartXYLog() {
  if (!prompts.OpenLog(log_, QStringLiteral("Log File (*.csv)"), kXYHeader)) return;
  logButton_->setText(QStringLiteral("Stop Log"));
  pathEdit_->setText(QFile::decodeName(log_.Path().c_str()));
  logStart_ = clock();
}

void CWndXYDialog::StopXYLog() {
  log_.Close();
  logButton_->setText(QStringLiteral("Log &File"));
  logging_ = false;
}

void CWndXYDialog::WriteXYLogLine(const TouchPoint& pt, bool serial) {
  if (!log_.IsOpen()) {
    prompts.message(QStringLiteral("Log File Not Found"));
    return;
  }
  const long long t = clock() - logStart_;
  std::string line = t == 0 ? "?," : CCsvLog::FormatTime(t) + ",";
  const std::string x = std::to_string(pt.x), y = std::to_string(pt.y), z = "0";
  const std::string finger = std::to_string(pt.finger);
  if (pt.finger == 0) {
    line += x + "," + y + "," + z + ",,,," + finger + ",";
  } else {
    line += ",,," + x + "," + y + "," + z + "," + finger + ",";
  }
  if (serial) {
    line += pt.status != 0 ? "Down" : "Up";
  } else if (pt.status == 1) {
    line += "Down";
  } else if (pt.status == 2) {
    line += "Up";
  } else if (pt.status == 0) {
    line += "Clear";
  }
  if (!log_.WriteLine(line)) {
    // Never lose lines silently: say so once and end the log.
    StopXYLog();
    prompts.message(QStringLiteral("Could not write to the log file."));
  }
}
