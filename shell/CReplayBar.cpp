#include "CReplayBar.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

namespace {
constexpr int kRefreshMs = 100;
constexpr int kSliderSteps = 10000;
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
  position_->setMinimumWidth(320);
  time_ = new QLabel(this);
  time_->setObjectName(QStringLiteral("replayTime"));
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("replayMessage"));
  message_->setWordWrap(true);
  grid->addWidget(play_, 0, 0);
  grid->addWidget(step_, 0, 1);
  grid->addWidget(speed_, 0, 2);
  grid->addWidget(position_, 0, 3);
  grid->addWidget(time_, 0, 4);
  grid->addWidget(message_, 1, 0, 1, 5);

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
  // Dragging moves the replay where the slider is let go (or clicked).
  connect(position_, &QSlider::sliderReleased, this, [this] {
    player_->Seek(player_->Duration() * position_->value() / kSliderSteps);
    Refresh();
  });
  connect(position_, &QSlider::actionTriggered, this, [this](int action) {
    if (action == QAbstractSlider::SliderMove) return;  // a drag, taken on release
    QTimer::singleShot(0, this, [this] {
      player_->Seek(player_->Duration() * position_->value() / kSliderSteps);
      Refresh();
    });
  });
  timer_ = new QTimer(this);
  timer_->setInterval(kRefreshMs);
  connect(timer_, &QTimer::timeout, this, &CReplayBar::Refresh);
  timer_->start();
  Refresh();
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
  if (!position_->isSliderDown()) {
    position_->setValue(duration > 0 ? int(pos * kSliderSteps / duration) : 0);
  }
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
