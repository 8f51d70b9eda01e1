#include "CWndGraphDialog.h"

#include <QCloseEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include "CDrawArea.h"
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

const char* const kWaveHeader = "Time, Length, Start Point X, Start Point Y, Direction, Data";

}  // namespace

CWndGraphDialog::CWndGraphDialog(CTransCtrl& ctrl, CSettingsRecord& settings, QWidget* parent)
    : QDialog(parent), ctrl_(ctrl), settings_(settings) {
  prompts = CViewPrompts::ForWidget(this);
  clock = &CCsvLog::ProcessClockMs;
  setModal(false);
  BuildControls();

  logging_ = false;
  graph_.SetCounts(settings_.xCount, settings_.yCount);
  graph_.SetFrameSize(kFrameW, kFrameH);
  graph_.SetFaceColour(palette().color(QPalette::Window));
  logLine_ = 1;
  ctrl_.RegisterListener(kSlot, 2, this);
  registered_ = true;
  graph_.ResetValues();
  timer_ = new QTimer(this);
  timer_->setInterval(kTimerMs);
  connect(timer_, &QTimer::timeout, this, [this] { OnTimer(); });
  timer_->start();
  setWindowTitle(QStringLiteral("Wave Window"));
  settings_.startup.WaveWindow = 1;
}

CWndGraphDialog::~CWndGraphDialog() {
  // The controller must never deliver to a window that is gone.
  if (registered_) ctrl_.UnregisterListener(kSlot);
}

void CWndGraphDialog::BuildControls() {
  setFixedSize(kCanvasW, kLogTop + 64);
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
}

QPoint CWndGraphDialog::FrameOrigin(CWaveGraph::Axis a) const {
  return QPoint(kMargin, a == CWaveGraph::kAxisX ? kXTop : kYTop);
}

void CWndGraphDialog::SetCounts(int xCount, int yCount) {
  graph_.SetCounts(xCount, yCount);
  OnPaint();
}

void CWndGraphDialog::Register() {
  if (registered_) return;
  if (ctrl_.RegisterListener(kSlot, 2, this) >= 0) registered_ = true;
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
    graph_.DrawWaveBars(p, axis);
    p.restore();
  }
}

void CWndGraphDialog::OnTimer() {
  if (canvas_->IsStale()) {
    canvas_->RepaintIfStale();
  } else {
    QPainter p(&canvas_->Image());
    for (auto axis : {CWaveGraph::kAxisX, CWaveGraph::kAxisY}) {
      p.save();
      p.translate(FrameOrigin(axis));
      graph_.DrawWaveBars(p, axis);
      p.restore();
    }
  }
  canvas_->update();
}

int CWndGraphDialog::OnTransCallback(int len, const uint8_t* bytes) {
  if (!registered_) return 1;
  if (len < 8 || bytes == nullptr || bytes[0] != 0x02 || bytes[1] != 0x4B) return 0;
  const DataRecord& rec = ctrl_.GetDataRecord();
  const int count = rec.count;
  if (count == 0 || rec.values == nullptr) return 0;
  if (rec.direction == 1) graph_.Store(CWaveGraph::kAxisX, rec.startX, rec.values, count);
  if (rec.direction == 0) graph_.Store(CWaveGraph::kAxisY, rec.startY, rec.values, count);
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
  QDialog::showEvent(e);
  settings_.startup.WaveWindow = 1;
  OnPaint();
}

void CWndGraphDialog::changeEvent(QEvent* e) {
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
