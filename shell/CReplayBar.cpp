#include "CReplayBar.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <algorithm>

namespace {
constexpr int kRefreshMs = 100;
constexpr int kSliderSteps = 10000;
constexpr int kDragSeekMs = 40;
constexpr int kPageSteps = 10;
}  // namespace

CReplayBar::CReplayBar(std::shared_ptr<capture::CReplayPlayer> player, const QString& fileName,
                       QWidget* parent)
    : QWidget(parent, Qt::Tool), player_(std::move(player)) {
  setWindowTitle(QStringLiteral("Replay - %1").arg(fileName));
  setObjectName(QStringLiteral("replayBar"));
  auto* grid = new QGridLayout(this);
  play_ = new QPushButton(QStringLiteral("Play"), this);
  play_->setObjectName(QStringLiteral("replayPlay"));
  step_ = new QPushButton(QStringLiteral("Step"), this);
  step_->setObjectName(QStringLiteral("replayStep"));
  step_->setToolTip(QStringLiteral("Send the next frame of the capture"));
  speed_ = new QComboBox(this);
  speed_->setObjectName(QStringLiteral("replaySpeed"));
  for (double s : kSpeeds) {
    speed_->addItem(s > 0 ? QStringLiteral("%1x").arg(s) : QStringLiteral("As fast as possible"));
  }
  speed_->setCurrentIndex(2);  // 1x
  position_ = new QSlider(Qt::Horizontal, this);
  position_->setObjectName(QStringLiteral("replayPosition"));
  position_->setRange(0, kSliderSteps);
  position_->setPageStep(kSliderSteps / kPageSteps);  // a click on the groove: a tenth
  position_->setMinimumWidth(320);
  loop_ = new QCheckBox(QStringLiteral("Loop"), this);
  loop_->setObjectName(QStringLiteral("replayLoop"));
  connect(loop_, &QCheckBox::toggled, this, [this](bool on) { player_->SetLoop(on); });
  time_ = new QLabel(this);
  time_->setObjectName(QStringLiteral("replayTime"));
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("replayMessage"));
  message_->setWordWrap(true);
  indexing_ = new QLabel(this);
  indexing_->setObjectName(QStringLiteral("replayIndexing"));
  grid->addWidget(play_, 0, 0);
  grid->addWidget(step_, 0, 1);
  grid->addWidget(speed_, 0, 2);
  grid->addWidget(position_, 0, 3);
  grid->addWidget(time_, 0, 4);
  grid->addWidget(loop_, 0, 5);
  grid->addWidget(indexing_, 0, 6);
  grid->addWidget(message_, 1, 0, 1, 7);

  connect(play_, &QPushButton::clicked, this, [this] {
    if (player_->IsPlaying()) {
      player_->Pause();
    } else {
      player_->Play();
    }
    Refresh();
  });
  connect(step_, &QPushButton::clicked, this, [this] {
    player_->Step();
    Refresh();
  });
  connect(speed_, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (i >= 0 && i < int(std::size(kSpeeds))) player_->SetSpeed(kSpeeds[i]);
  });
  // The replay follows the slider while it is dragged, and where it is let go or clicked.
  dragSeek_ = new QTimer(this);
  dragSeek_->setSingleShot(true);
  dragSeek_->setInterval(kDragSeekMs);
  connect(dragSeek_, &QTimer::timeout, this, &CReplayBar::SeekToSlider);
  connect(position_, &QSlider::sliderMoved, this, [this] {
    if (!dragSeek_->isActive()) dragSeek_->start();
  });
  connect(position_, &QSlider::sliderReleased, this, [this] {
    dragSeek_->stop();
    SeekToSlider();
  });
  connect(position_, &QSlider::actionTriggered, this, [this](int action) {
    if (action == QAbstractSlider::SliderMove) return;  // a drag: followed above
    QTimer::singleShot(0, this, &CReplayBar::SeekToSlider);
  });
  timer_ = new QTimer(this);
  timer_->setInterval(kRefreshMs);
  connect(timer_, &QTimer::timeout, this, &CReplayBar::Refresh);
  timer_->start();
  Refresh();
}

int CReplayBar::SliderValue(int64_t pos, int64_t duration) {
  if (duration <= 0) return 0;
  const double f = std::clamp(double(pos) / double(duration), 0.0, 1.0);
  return int(f * kSliderSteps + 0.5);
}

int64_t CReplayBar::SliderTime(int value, int64_t duration) {
  const double f = std::clamp(double(value) / kSliderSteps, 0.0, 1.0);
  return int64_t(f * double(std::max<int64_t>(duration, 0)));
}

void CReplayBar::SeekToSlider() {
  player_->Seek(SliderTime(position_->value(), player_->Duration()));
  Refresh();
}

void CReplayBar::ShowIndexing() {
  if (indexed_) return;
  const capture::CaptureReader::Progress p = player_->Reader().GetProgress();
  indexed_ = p.done;
  indexing_->setText(p.done ? QString()
                            : QStringLiteral("Indexing %1 %").arg(int(p.fraction * 100)));
  if (p.done && !p.error.empty()) {
    SetMessage(QStringLiteral("%1\nThe %2 frames before it are replayed.")
                   .arg(QString::fromStdString(p.error))
                   .arg(p.frames));
  } else if (!p.warnings.empty() && Message().isEmpty()) {
    SetMessage(QString::fromStdString(p.warnings.back()));
  }
}

QString CReplayBar::TimeText(int64_t us) {
  const int64_t ms = us / 1000;
  return QStringLiteral("%1:%2.%3")
      .arg(ms / 60000, 2, 10, QLatin1Char('0'))
      .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
      .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

void CReplayBar::Refresh() {
  const bool playing = player_->IsPlaying();
  play_->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
  step_->setEnabled(!playing && !player_->AtEnd());
  const int64_t pos = player_->Position();
  const int64_t duration = player_->Duration();
  if (!position_->isSliderDown()) position_->setValue(SliderValue(pos, duration));
  ShowIndexing();
  time_->setText(TimeText(pos) + QStringLiteral(" / ") + TimeText(duration));
}

void CReplayBar::SetMessage(const QString& text) {
  message_->setText(text);
}

QString CReplayBar::Message() const {
  return message_->text();
}

void CReplayBar::closeEvent(QCloseEvent* e) {
  e->accept();
  emit closed();
}
