#include "CWndGraphDialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTimer>
#include <limits>

#include "CDrawArea.h"
#include "CSnapshot.h"
#include "control/CSettingsRecord.h"

namespace {

constexpr int kFrameW = 760;
constexpr int kFrameH = 160;
constexpr int kMargin = 8;
// X frame, its value labels and index labels, the Y frame's value labels, the Y frame.
constexpr int kXTop = kMargin;
constexpr int kYTop = kXTop + kFrameH + CWaveGraph::kIndexOffset + CWaveGraph::kIndexHeight +
                      kMargin + CWaveGraph::kLabelHeight;
constexpr int kCanvasW = kFrameW + 2 * kMargin + 8;
constexpr int kCanvasH = kYTop + kFrameH + kMargin;
constexpr int kLogTop = kCanvasH + 4;
constexpr int kStatsTop = kLogTop + 62;
constexpr int kLimitsTop = kStatsTop + 32;  // shown with the statistics only
constexpr int kTableTop = kLimitsTop + 30;
constexpr int kTableH = 176;
const QColor kWorstColour(255, 220, 200);  // noisier than the panel
const QColor kFlagColour(255, 150, 150);   // reads open or short, or outside the limits

const char* const kWaveHeader = "Time, Length, Start Point X, Start Point Y, Direction, Data";

}  // namespace

CWndGraphDialog::CWndGraphDialog(CTransCtrl& ctrl, CSettingsRecord& settings, QWidget* parent)
    : QDialog(parent), ctrl_(ctrl), settings_(settings) {
  prompts = CViewPrompts::ForWidget(this);
  clock = &CCsvLog::ProcessClockMs;
  setModal(false);
  BuildControls();
  // The main window's status line may lie under this window: the window that saved says so.
  prompts.notice = [this, toMain = prompts.notice](const QString& text) {
    canvas_->ShowNotice(text);
    if (toMain) toMain(text);
  };

  logging_ = false;
  const PanelInfo panel = ctrl_.Panel();
  graph_.SetCounts(panel.xCount, panel.yCount);
  graph_.SetFrameSize(kFrameW, kFrameH);
  graph_.SetFaceColour(palette().color(QPalette::Window));
  logLine_ = 1;
  ctrl_.RegisterListener(kSlot, kListenerActive, this);
  registered_ = true;
  graph_.ResetValues();
  timer_ = new QTimer(this);
  timer_->setInterval(kTimerMs);
  connect(timer_, &QTimer::timeout, this, [this] { OnTimer(); });
  timer_->start();
  setWindowTitle(QStringLiteral("Wave Window"));
  settings_.startup.WaveWindow = 1;
  live_.SetCounts(panel.xCount, panel.yCount);
  SetStatisticsScans(settings_.live.scans);
  SetStatistics(settings_.live.statistics != 0);
}

CWndGraphDialog::~CWndGraphDialog() {
  // The controller must never deliver to a window that is gone.
  if (registered_) ctrl_.UnregisterListener(kSlot);
}

void CWndGraphDialog::BuildControls() {
  canvas_ = new CDrawArea(this);
  canvas_->setGeometry(0, 0, kCanvasW, kCanvasH);
  canvas_->onRepaint = [this](QImage& img) { RedrawAll(img); };
  for (auto [id, axis] : {std::pair{1031, CWaveGraph::kAxisX}, {1032, CWaveGraph::kAxisY}}) {
    auto* frame = new QWidget(canvas_);
    frame->setObjectName(QStringLiteral("id%1").arg(id));
    frame->setAttribute(Qt::WA_TransparentForMouseEvents);
    frame->setGeometry(QRect(FrameOrigin(axis), QSize(kFrameW, kFrameH)));
  }

  auto* group = new QGroupBox(QStringLiteral("Log File"), this);
  group->setObjectName("id1155");
  group->setGeometry(kMargin, kLogTop, kCanvasW - 2 * kMargin, 56);
  logButton_ = new QPushButton(QStringLiteral("Log File"), this);
  logButton_->setObjectName("id1023");
  logButton_->setGeometry(2 * kMargin, kLogTop + 20, 90, 26);
  connect(logButton_, &QPushButton::clicked, this, [this] { OnBnClickedLogFile(); });
  pathEdit_ = new QLineEdit(this);
  pathEdit_->setObjectName("id1012");
  pathEdit_->setReadOnly(true);
  pathEdit_->setGeometry(2 * kMargin + 100, kLogTop + 22, 380, 22);
  auto* maxLabel = new QLabel(QStringLiteral("Max number of log line:"), this);
  maxLabel->setObjectName("id1156");
  maxLabel->setGeometry(2 * kMargin + 490, kLogTop + 22, 150, 22);
  maxLinesEdit_ = new QLineEdit(QString::number(maxLogLines_), this);
  maxLinesEdit_->setObjectName("id1018");
  maxLinesEdit_->setGeometry(2 * kMargin + 640, kLogTop + 22, 60, 22);
  connect(maxLinesEdit_, &QLineEdit::textEdited, this,
          [this](const QString& t) { OnMaxLinesEdited(t); });
  auto* linesLabel = new QLabel(QStringLiteral("line(s)"), this);
  linesLabel->setObjectName("id1157");
  linesLabel->setGeometry(2 * kMargin + 705, kLogTop + 22, 50, 22);
  BuildStatisticsControls();
  FitHeight();
}

void CWndGraphDialog::BuildStatisticsControls() {
  statsBox_ = new QCheckBox(QStringLiteral("Statistics"), this);
  statsBox_->setObjectName("statistics");
  statsBox_->setGeometry(kMargin, kStatsTop + 2, 90, 24);
  connect(statsBox_, &QCheckBox::toggled, this, [this](bool on) {
    SetStatistics(on);
    settings_.live.statistics = on ? 1 : 0;
    settings_.WriteLiveAnalysis();
  });
  auto* scansLabel = new QLabel(QStringLiteral("Scans:"), this);
  scansLabel->setGeometry(kMargin + 96, kStatsTop + 4, 44, 22);
  scansEdit_ = new QLineEdit(this);
  scansEdit_->setObjectName("statsScans");
  scansEdit_->setGeometry(kMargin + 140, kStatsTop + 4, 60, 22);
  connect(scansEdit_, &QLineEdit::editingFinished, this, [this] {
    bool ok = false;
    const int n = scansEdit_->text().trimmed().toInt(&ok);
    if (!ok || n < 1 || n > CLiveStats::kMaxScans) {
      prompts.message(QStringLiteral("Please enter a number of scans from 1 to %1.")
                          .arg(CLiveStats::kMaxScans));
      scansEdit_->setText(QString::number(live_.Window()));
      return;
    }
    SetStatisticsScans(n);
    settings_.live.scans = n;
    settings_.WriteLiveAnalysis();
  });
  const auto button = [this](const char* text, const char* name, int x, int w) {
    auto* b = new QPushButton(QString::fromLatin1(text), this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    b->setGeometry(x, kStatsTop + 2, w, 26);
    return b;
  };
  connect(button("Reset", "statsReset", kMargin + 210, 60), &QPushButton::clicked, this,
          [this] { OnStatisticsReset(); });
  connect(button("Save table...", "statsSaveTable", kMargin + 276, 100), &QPushButton::clicked,
          this, [this] { OnSaveTable(); });
  connect(button("Save image...", "saveImage", kMargin + 382, 100), &QPushButton::clicked, this,
          [this] { OnSaveImage(); });
  status_ = new QLabel(this);
  status_->setObjectName("statsStatus");
  status_->setGeometry(kMargin + 490, kStatsTop + 4, kCanvasW - kMargin - 498, 22);
  limitsButton_ = new QPushButton(QStringLiteral("&Limits..."), this);
  limitsButton_->setObjectName("statsLimits");
  limitsButton_->setAutoDefault(false);
  limitsButton_->setGeometry(kMargin, kLimitsTop, 90, 26);
  connect(limitsButton_, &QPushButton::clicked, this, [this] { OnLoadLimits(); });
  limitsText_ = new QLabel(this);
  limitsText_->setObjectName("statsLimitsText");
  limitsText_->setGeometry(kMargin + 96, kLimitsTop + 2, kCanvasW - 2 * kMargin - 96, 22);
  limitsButton_->hide();
  limitsText_->hide();

  table_ = new QTableWidget(0, 7, this);
  table_->setObjectName("statsTable");
  table_->setHorizontalHeaderLabels({QStringLiteral("Electrode"), QStringLiteral("Min"),
                                     QStringLiteral("Max"), QStringLiteral("Mean"),
                                     QStringLiteral("Std dev"), QStringLiteral("P2P"),
                                     QStringLiteral("Flag")});
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(18);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->horizontalHeader()->setStretchLastSection(true);  // room for the rule
  table_->setGeometry(kMargin, kTableTop, kCanvasW - 2 * kMargin, kTableH);
  table_->hide();

  // Space would press the focused button; the window takes it for Freeze.
  auto* freeze = new QShortcut(QKeySequence(Qt::Key_Space), this);
  connect(freeze, &QShortcut::activated, this, [this] { SetFrozen(!IsFrozen()); });
  auto* save = new QShortcut(QKeySequence::Save, this);
  connect(save, &QShortcut::activated, this, [this] { OnSaveImage(); });
}

void CWndGraphDialog::FitHeight() {
  setFixedSize(kCanvasW, statsOn_ ? kTableTop + kTableH + kMargin : kLimitsTop);
}

void CWndGraphDialog::SetStatistics(bool on) {
  Kick();
  {
    const QSignalBlocker quiet(statsBox_);
    statsBox_->setChecked(on);
  }
  if (on && !statsOn_) live_.Reset();
  statsOn_ = on;
  table_->setVisible(on);
  limitsButton_->setVisible(on);
  limitsText_->setVisible(on);
  tableScans_ = ~0ull;
  FitHeight();
  UpdateStatus();
  canvas_->Invalidate();
}

void CWndGraphDialog::SetStatisticsScans(int scans) {
  Kick();
  live_.SetWindow(scans);
  scansEdit_->setText(QString::number(live_.Window()));
  tableScans_ = ~0ull;
}

void CWndGraphDialog::OnStatisticsReset() {
  Kick();
  live_.Reset();
  tableScans_ = ~0ull;
  UpdateStatus();
  canvas_->Invalidate();
}

void CWndGraphDialog::SetFrozen(bool on) {
  Kick();
  canvas_->SetFrozen(on);
  UpdateStatus();
}

bool CWndGraphDialog::IsFrozen() const {
  return canvas_->IsFrozen();
}

QString CWndGraphDialog::StatusText() const {
  return status_->text();
}

void CWndGraphDialog::UpdateStatus() {
  // The stream the bars show, so that two streams are never taken for one.
  const std::string stream = CLiveStats::StreamLabel(lastCode_);
  QString text = lastCode_ < 0    ? QStringLiteral("no data stream")
                 : stream.empty() ? QStringLiteral("data code %1").arg(lastCode_)
                                  : QString::fromStdString(stream);
  if (statsOn_) text += QStringLiteral("   %1 of %2 scans").arg(live_.Held()).arg(live_.Window());
  if (IsFrozen()) text += QStringLiteral("   FROZEN");
  if (status_->text() != text) status_->setText(text);
  UpdateLimitsText();
}

void CWndGraphDialog::UpdateLimitsText() {
  QString text = QStringLiteral(
      "No limits file: electrodes reading open or short are marked, "
      "and those far noisier than the panel.");
  if (live_.HasLimits()) {
    text = QStringLiteral("Limits: ") +
           QDir::toNativeSeparators(QFile::decodeName(live_.LimitsPath().c_str()));
    const std::string stream = CLiveStats::StreamLabel(lastCode_);
    if (!live_.LimitsFitPanel()) {
      text += QStringLiteral(" - not for a panel of %1 x %2 electrodes")
                  .arg(graph_.Count(CWaveGraph::kAxisX))
                  .arg(graph_.Count(CWaveGraph::kAxisY));
    } else if (!stream.empty() && !live_.LimitsNameStream()) {
      text += QStringLiteral(" - none for ") + QString::fromStdString(stream);
    }
  }
  if (limitsText_->text() != text) limitsText_->setText(text);
}

bool CWndGraphDialog::OnLoadLimits() {
  const QString path =
      prompts.openFile ? prompts.openFile(QStringLiteral("Limits (*.toml)")) : QString();
  if (path.isEmpty()) return false;
  return LoadLimits(path);
}

bool CWndGraphDialog::LoadLimits(const QString& path) {
  Kick();
  std::string err;
  if (!live_.LoadLimits(QFile::encodeName(path).toStdString(), err)) {
    prompts.message(QString::fromStdString(err));
    return false;
  }
  tableScans_ = ~0ull;
  UpdateTable();
  UpdateLimitsText();
  return true;
}

void CWndGraphDialog::UpdateTable() {
  if (!statsOn_ || live_.TotalScans() == tableScans_) return;
  tableScans_ = live_.TotalScans();
  const std::vector<analysis::ElectrodeSummary>& s = live_.Summaries();
  std::vector<QString> rule(s.size());
  for (const CLiveStats::Mark& m : live_.Marked())
    rule[static_cast<size_t>(m.electrode)] = QString::fromStdString(m.rule);
  table_->setRowCount(static_cast<int>(s.size()));
  for (int i = 0; i < static_cast<int>(s.size()); ++i) {
    const analysis::ElectrodeSummary& e = s[static_cast<size_t>(i)];
    const QString& why = rule[static_cast<size_t>(i)];
    const QString cells[7] = {QString::fromStdString(live_.Layout().Name(i)),
                              QString::number(e.min),
                              QString::number(e.max),
                              QString::number(e.mean, 'f', 1),
                              QString::number(e.stddev, 'f', 2),
                              QString::number(e.p2p),
                              why};
    QBrush brush;
    if (!why.isEmpty())
      brush = QBrush(why.startsWith(QLatin1String("noisy")) ? kWorstColour : kFlagColour);
    for (int c = 0; c < 7; ++c) {
      QTableWidgetItem* item = table_->item(i, c);
      if (item == nullptr) {
        item = new QTableWidgetItem;
        table_->setItem(i, c, item);
      }
      item->setText(cells[c]);
      item->setBackground(brush);
    }
  }
}

bool CWndGraphDialog::OnSaveImage() {
  const std::string label = CLiveStats::StreamLabel(lastCode_);
  const QString name =
      label.empty() ? QStringLiteral("no data stream") : QString::fromStdString(label);
  const QImage img = snapshot::Picture(
      *this, snapshot::Caption(ctrl_.FirmwareVersion(), name, QDateTime::currentDateTime()));
  return snapshot::SaveImage(prompts, img);
}

bool CWndGraphDialog::OnSaveTable() {
  return snapshot::SaveCsv(prompts, live_.SummaryCsv());
}

QPoint CWndGraphDialog::FrameOrigin(CWaveGraph::Axis a) const {
  return QPoint(kMargin, a == CWaveGraph::kAxisX ? kXTop : kYTop);
}

void CWndGraphDialog::SetCounts(int xCount, int yCount) {
  Kick();
  graph_.SetCounts(xCount, yCount);
  live_.SetCounts(xCount, yCount);
  OnPaint();
}

void CWndGraphDialog::Register() {
  if (registered_) return;
  if (ctrl_.RegisterListener(kSlot, kListenerActive, this) >= 0) registered_ = true;
}

void CWndGraphDialog::OnPaint() {
  Register();
  canvas_->Invalidate();
}

void CWndGraphDialog::RedrawAll(QImage& img) {
  QPainter p(&img);
  img.fill(palette().color(QPalette::Window));
  for (auto axis : {CWaveGraph::kAxisX, CWaveGraph::kAxisY}) {
    p.save();
    p.translate(FrameOrigin(axis));
    graph_.DrawWaveFrame(p, axis);
    p.restore();
  }
  DrawBars(p);
}

// Statistics on: the graphs span the kept scans' range (a little more), so that a noise
// of a few counts shows; off, the plain mode's fixed -255 ... 255.
void CWndGraphDialog::ZoomToData() {
  // Electrodes that read open or short stay out of the range (they touch the frame).
  int32_t lo = std::numeric_limits<int32_t>::max(), hi = std::numeric_limits<int32_t>::min();
  if (statsOn_ && !whiskers_.empty()) {
    const std::vector<analysis::ElectrodeSummary>& s = live_.Summaries();
    for (size_t i = 0; i < s.size() && i < whiskers_.size(); ++i) {
      if (CLiveStats::FlagOf(s[i]) != nullptr) continue;
      lo = std::min(lo, whiskers_[i].min);
      hi = std::max(hi, whiskers_[i].max);
    }
  }
  if (lo > hi) {
    graph_.SetZoom(false);
    return;
  }
  const double half = std::max((hi - lo) / 2.0 * 1.15, 5.0);
  graph_.SetZoom(true, (lo + hi) / 2.0, half);
}

void CWndGraphDialog::MarkStaleBars() {
  const long long now = clock();
  for (auto axis : {CWaveGraph::kAxisX, CWaveGraph::kAxisY}) {
    for (int i = 0; i < graph_.Count(axis); ++i)
      graph_.SetStale(axis, i, now - updated_[axis][static_cast<size_t>(i)] > kStaleMs);
  }
}

void CWndGraphDialog::DrawBars(QPainter& p) {
  int xFrom = 0, xCount = 0, yFrom = 0, yCount = 0;
  whiskers_.clear();
  if (statsOn_ && live_.Held() > 0) {
    const std::vector<analysis::ElectrodeSummary>& s = live_.Summaries();
    whiskers_.resize(s.size());
    for (size_t i = 0; i < s.size(); ++i) whiskers_[i] = {s[i].min, s[i].max, s[i].mean};
    xCount = live_.Layout().xCount;
    yFrom = xCount;
    yCount = live_.Layout().yCount;
  }
  ZoomToData();
  MarkStaleBars();
  for (auto axis : {CWaveGraph::kAxisX, CWaveGraph::kAxisY}) {
    p.save();
    p.translate(FrameOrigin(axis));
    graph_.DrawWaveBars(p, axis);
    const bool x = axis == CWaveGraph::kAxisX;
    if (x ? xCount : yCount) {
      graph_.DrawWhiskers(p, axis, whiskers_.data() + (x ? xFrom : yFrom), x ? xCount : yCount);
    }
    if (graph_.Zoomed()) graph_.DrawScale(p);
    p.restore();
  }
}

void CWndGraphDialog::OnTimer() {
  // Frozen, the screen keeps its picture: drawing goes on so that thawing shows now.
  if (canvas_->IsStale()) {
    canvas_->RepaintIfStale();
  } else {
    QPainter p(&canvas_->Image());
    DrawBars(p);
  }
  if (!IsFrozen()) UpdateTable();
  UpdateStatus();
  canvas_->update();
  // Nothing came since every bar was drawn stale: no more ticks until something does.
  if (clock() - lastDataMs_ > kStaleMs + 2 * kTimerMs) timer_->stop();
}

void CWndGraphDialog::Kick() {
  if (timer_ != nullptr && !timer_->isActive()) timer_->start();
}

int CWndGraphDialog::OnTransCallback(const TransFrame& frame) {
  if (!registered_) return 1;
  // Only what was decoded from this frame: a refused frame leaves the last record behind.
  const DataRecord* decoded = frame.DataReport();
  if (frame.len < 8 || decoded == nullptr || decoded->group != 0x4B) return 0;
  const DataRecord& rec = *decoded;
  const int count = rec.count;
  if (count == 0 || rec.values == nullptr) return 0;
  const long long now = clock();
  const auto stored = [&](CWaveGraph::Axis a, int start) {
    const int n = graph_.Store(a, start, rec.values, count);
    for (int k = 0; k < n; ++k) updated_[a][static_cast<size_t>(start + k)] = now;
    lastDataMs_ = now;
  };
  if (rec.direction == 1) stored(CWaveGraph::kAxisX, rec.startX);
  if (rec.direction == 0) stored(CWaveGraph::kAxisY, rec.startY);
  lastCode_ = rec.code;
  Kick();
  if (statsOn_) live_.Add(rec);
  if (logging_ && logLine_ <= maxLogLines_) {
    WriteWaveLogLine(count, rec.startX, rec.startY, rec.direction, rec.values);
    ++logLine_;
  }
  return 0;
}

void CWndGraphDialog::OnBnClickedLogFile() {
  if (!logging_) {
    StartWaveLog();
    logging_ = log_.IsOpen();
    return;
  }
  StopWaveLog();
}

void CWndGraphDialog::StartWaveLog() {
  if (!prompts.OpenLog(log_, QStringLiteral("CSV File (*.csv)"), kWaveHeader)) return;
  logButton_->setText(QStringLiteral("Stop Log"));
  maxLinesEdit_->setEnabled(false);
  pathEdit_->setText(QFile::decodeName(log_.Path().c_str()));
  logStart_ = clock();
}

void CWndGraphDialog::StopWaveLog() {
  log_.Close();
  logButton_->setText(QStringLiteral("Log File"));
  maxLinesEdit_->setEnabled(true);
  logging_ = false;
  logLine_ = 1;
}

void CWndGraphDialog::WriteWaveLogLine(int count, int startX, int startY, int direction,
                                       const int32_t* values) {
  if (!log_.IsOpen()) {
    prompts.message(QStringLiteral("CSV File Not Found"));
    return;
  }
  if (direction != 0 && direction != 1) return;
  std::string line = CCsvLog::FormatTime(clock() - logStart_) + ",";
  line += std::to_string(count) + "," + std::to_string(startX) + "," + std::to_string(startY) +
          (direction == 1 ? ",X Axis " : ",Y Axis ");
  for (int k = 0; k < count; ++k) line += "," + std::to_string(values[k] - CWaveGraph::kZero);
  if (!log_.WriteLine(line)) {
    // Never lose lines silently: say so once and end the log.
    StopWaveLog();
    prompts.message(QStringLiteral("Could not write to the log file."));
  }
}

void CWndGraphDialog::OnMaxLinesEdited(const QString& text) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok);
  if (ok) {
    maxLogLines_ = v;
  } else if (!text.trimmed().isEmpty()) {
    prompts.message(QStringLiteral("Please enter an integer."));
  }
}

void CWndGraphDialog::showEvent(QShowEvent* e) {
  Kick();
  QDialog::showEvent(e);
  settings_.startup.WaveWindow = 1;
  OnPaint();
}

void CWndGraphDialog::changeEvent(QEvent* e) {
  Kick();
  QDialog::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow()) OnPaint();
}

void CWndGraphDialog::closeEvent(QCloseEvent* e) {
  // Hidden, not unregistered: values and the log go on in the background.
  settings_.startup.WaveWindow = 0;
  hide();
  e->accept();
}

void CWndGraphDialog::reject() {
  ctrl_.UnregisterListener(kSlot);
  registered_ = false;
}

void CWndGraphDialog::accept() {}
