// The replay bar: play/pause, speed, position with time (seeking while the slider is
// dragged, a tenth of the capture per click on its groove), loop, one frame at a time,
// how far the capture is indexed, and what the capture could not answer.
#pragma once

#include <QWidget>
#include <memory>

#include "capture/CReplayPlayer.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;

class CReplayBar : public QWidget {
  Q_OBJECT

 public:
  // Speeds offered; the last entry is "as fast as possible".
  static constexpr double kSpeeds[] = {0.25, 0.5, 1, 2, 4, 8, 16, 0};

  CReplayBar(std::shared_ptr<capture::CReplayPlayer> player, const QString& fileName,
             QWidget* parent);

  // Shows the player's state (also run by a timer while visible).
  void Refresh();
  void SetMessage(const QString& text);
  QString Message() const;
  // "01:02.345".
  static QString TimeText(int64_t us);
  // Slider steps for a position and back, without overflow at any capture length.
  static int SliderValue(int64_t pos, int64_t duration);
  static int64_t SliderTime(int value, int64_t duration);

 signals:
  // The user closed the bar: the replay ends.
  void closed();

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void SeekToSlider();
  void ShowIndexing();

  std::shared_ptr<capture::CReplayPlayer> player_;
  QPushButton* play_ = nullptr;
  QPushButton* step_ = nullptr;
  QComboBox* speed_ = nullptr;
  QSlider* position_ = nullptr;
  QLabel* time_ = nullptr;
  QCheckBox* loop_ = nullptr;
  QLabel* message_ = nullptr;
  QLabel* indexing_ = nullptr;
  QTimer* timer_ = nullptr;
  QTimer* dragSeek_ = nullptr;  // seeks at most this often while dragging
  bool indexed_ = false;
};
