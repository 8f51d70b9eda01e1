// Session recording and capture replay in the engineering program: the menu items,
// the "REC" status, the replay link in place of the controller's, and the replay bar.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

#include "capture/CCaptureRecorder.h"
#include "capture/CReplayPlayer.h"

class CReplayBar;
class CVantrelToolApp;
class QTimer;

class CCaptureControl : public QObject {
  Q_OBJECT

 public:
  explicit CCaptureControl(CVantrelToolApp& app);
  ~CCaptureControl() override;

  // File > "Record session...": asks for a file and starts, or stops a recording.
  void OnRecordCommand();
  // File > "Open capture...".
  void OnOpenCaptureCommand();

  bool StartRecording(const QString& path);
  void StopRecording();
  bool IsRecording() const;
  // Writes the link's identity into the recording when it changed.
  void NoteLink();
  capture::CCaptureRecorder& Recorder() { return *recorder_; }
  // "REC 1234 frames, 56.7 KB" while recording, else empty.
  QString RecordText() const;

  // Plays the capture in place of the controller; false (with a message) when it holds
  // nothing to play.
  bool OpenReplay(const QString& path);
  // Ends the replay and opens the configured link again.
  void CloseReplay();
  bool IsReplaying() const { return player_ != nullptr; }
  capture::CReplayPlayer* Player() const { return player_.get(); }
  CReplayBar* Bar() const;

 private:
  void UpdateRecordStatus();
  void ShowUnanswered();
  void Message(int icon, const QString& text);

  CVantrelToolApp& app_;
  std::shared_ptr<capture::CCaptureRecorder> recorder_;
  QTimer* statusTimer_ = nullptr;
  std::string notedLink_;
  std::shared_ptr<capture::CReplayPlayer> player_;
  QPointer<CReplayBar> bar_;
  QTimer* replayTimer_ = nullptr;
};
