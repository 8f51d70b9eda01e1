// Session recording and capture replay in the engineering program: the menu items,
// the "REC" status, the replay link in place of the controller's, and the replay bar.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <thread>

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

  // Opens the capture off the user interface thread, then plays it in place of the
  // controller. false when an opening is already under way. A capture that cannot be read
  // or holds nothing to play is reported in a message; with linkOnFailure the configured
  // link is opened instead.
  bool OpenReplay(const QString& path, bool linkOnFailure = false);
  bool IsOpeningReplay() const { return opening_; }
  // Ends the replay and opens the configured link again.
  void CloseReplay();
  bool IsReplaying() const { return player_ != nullptr; }
  capture::CReplayPlayer* Player() const { return player_.get(); }
  CReplayBar* Bar() const;
  // The bar names the last command the capture could not answer (a timer runs it); the
  // link's own opening queries are not named.
  void ShowUnanswered();

 private:
  void FinishOpen(const QString& path, std::shared_ptr<capture::CaptureReader> reader,
                  const QString& error, bool linkOnFailure);
  void UpdateRecordStatus();
  void MarkTitles(bool recording);
  static bool IsOpeningQuery(const capture::Bytes& frame);
  void Message(int icon, const QString& text);

  CVantrelToolApp& app_;
  std::shared_ptr<capture::CCaptureRecorder> recorder_;
  QTimer* statusTimer_ = nullptr;
  std::string notedLink_;
  std::shared_ptr<capture::CReplayPlayer> player_;
  QPointer<CReplayBar> bar_;
  QTimer* replayTimer_ = nullptr;
  std::thread opener_;
  bool opening_ = false;
};
