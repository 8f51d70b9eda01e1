#include "CCaptureControl.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "capture/CReplayLink.h"
#include "capture/CaptureReader.h"
#include "capture/FrameRules.h"
#include "capture/HexCodec.h"
#include "control/CSendDialog.h"
#include "shell/CMainFrame.h"
#include "shell/CReplayBar.h"
#include "shell/CVantrelToolApp.h"
#include "shell/ProductVersion.h"
#include "views/CWndGraphDialog.h"
#include "views/CWndXYDialog.h"

namespace {

constexpr int kStatusMs = 250;
const char kFilter[] = "Capture (*.capture *.capture.zst *.zst);;All files (*)";

QString SizeText(uint64_t bytes) {
  if (bytes < 1024) return QStringLiteral("%1 B").arg(bytes);
  if (bytes < 1024 * 1024) return QStringLiteral("%1 KB").arg(double(bytes) / 1024, 0, 'f', 1);
  return QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

QString HexText(const capture::Bytes& bytes) {
  return QString::fromStdString(capture::ToHex(bytes, ' '));
}

}  // namespace

CCaptureControl::CCaptureControl(CVantrelToolApp& app)
    : app_(app), recorder_(std::make_shared<capture::CCaptureRecorder>()) {
  app_.Ctrl().SetRecorder(recorder_);
  statusTimer_ = new QTimer(this);
  statusTimer_->setInterval(kStatusMs);
  connect(statusTimer_, &QTimer::timeout, this, &CCaptureControl::UpdateRecordStatus);
}

CCaptureControl::~CCaptureControl() {
  // An opening still under way ends first; what it posts is dropped with this object.
  if (opener_.joinable()) opener_.join();
  app_.Ctrl().SetRecorder(nullptr);
  recorder_->Stop();
  delete bar_;
}

void CCaptureControl::Message(int icon, const QString& text) {
  app_.Hooks().messageBox(app_.MainFrame(), static_cast<QMessageBox::Icon>(icon), text,
                          QMessageBox::Ok);
}

// ---------------------------------------------------------------- recording

void CCaptureControl::OnRecordCommand() {
  if (IsRecording()) {
    StopRecording();
    return;
  }
  QString path = app_.Hooks().chooseFile(app_.MainFrame(), true, QStringLiteral("Record session"),
                                         QString::fromLatin1(kFilter));
  if (path.isEmpty()) return;
  // A name without the extension gets it, so that "Open capture..." lists the file.
  const QString lower = path.toLower();
  if (!lower.endsWith(QLatin1String(".capture")) && !lower.endsWith(QLatin1String(".zst"))) {
    path += QStringLiteral(".capture");
    if (QFileInfo::exists(path) &&
        app_.Hooks().messageBox(app_.MainFrame(), QMessageBox::Question,
                                QStringLiteral("%1 already exists.\nDo you want to replace it?")
                                    .arg(QDir::toNativeSeparators(path)),
                                QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
      return;
  }
  StartRecording(path);
}

bool CCaptureControl::StartRecording(const QString& path) {
  CTransCtrl& ctrl = app_.Ctrl();
  capture::Header h;
  h.program = QStringLiteral("VantrelTool %1").arg(GetProductVersion()).toStdString();
  h.link = capture::CCaptureRecorder::KindOf(ctrl.GetLinkType());
  h.linkDetail = ctrl.LinkDescription();
  h.firmware = ctrl.FirmwareVersion();
  if (!h.firmware.empty()) h.panel = capture::CCaptureRecorder::PanelText(ctrl.Panel());
  std::string error;
  if (!recorder_->Start(path.toStdString(), h, error)) {
    Message(QMessageBox::Warning,
            QStringLiteral("Cannot record the session:\n%1").arg(QString::fromStdString(error)));
    return false;
  }
  notedLink_ = std::string(capture::LinkKindName(h.link)) + " " + h.linkDetail;
  statusTimer_->start();
  UpdateRecordStatus();
  return true;
}

void CCaptureControl::NoteLink() {
  CTransCtrl& ctrl = app_.Ctrl();
  const std::string detail = ctrl.LinkDescription();
  if (detail.empty()) return;
  const std::string link =
      std::string(capture::LinkKindName(capture::CCaptureRecorder::KindOf(ctrl.GetLinkType()))) +
      " " + detail;
  if (link == notedLink_) return;
  notedLink_ = link;
  recorder_->Note("link", link);
}

void CCaptureControl::StopRecording() {
  const bool ok = recorder_->Stop();
  statusTimer_->stop();
  const auto stats = recorder_->GetStats();
  if (app_.MainFrame()) app_.MainFrame()->SetRecordText(QString());
  MarkTitles(false);
  if (!ok) {
    Message(QMessageBox::Warning,
            QStringLiteral("Recording stopped:\n%1").arg(QString::fromStdString(stats.error)));
  } else if (stats.dropped > 0) {
    Message(QMessageBox::Warning,
            QStringLiteral("%1 frames could not be recorded in %2: the disk was too slow.")
                .arg(stats.dropped)
                .arg(QString::fromStdString(stats.path)));
  } else if (app_.MainFrame() && !stats.path.empty()) {
    app_.MainFrame()->ShowNotice(QStringLiteral("Recorded %1 frames in %2")
                                     .arg(stats.frames)
                                     .arg(QString::fromStdString(stats.path)));
  }
}

bool CCaptureControl::IsRecording() const {
  return recorder_->IsActive();
}

QString CCaptureControl::RecordText() const {
  const auto s = recorder_->GetStats();
  if (!s.active) return QString();
  QString text = QStringLiteral("REC %1 frames, %2").arg(s.frames).arg(SizeText(s.bytesOnDisk));
  if (s.dropped > 0) text += QStringLiteral(", %1 dropped").arg(s.dropped);
  return text;
}

// The main window's status line may lie under the tool windows: their titles say REC too.
void CCaptureControl::MarkTitles(bool recording) {
  static const QString kMark = QStringLiteral(" - REC");
  QWidget* windows[] = {app_.WaveWindow(), app_.XYWindow(), app_.SendWindow()};
  for (QWidget* w : windows) {
    if (w == nullptr) continue;
    QString title = w->windowTitle();
    if (title.endsWith(kMark)) title.chop(kMark.size());
    if (recording) title += kMark;
    if (title != w->windowTitle()) w->setWindowTitle(title);
  }
}

void CCaptureControl::UpdateRecordStatus() {
  if (!recorder_->IsActive()) {
    StopRecording();  // a write error ended it: the message names the file
    return;
  }
  NoteLink();
  if (app_.MainFrame()) app_.MainFrame()->SetRecordText(RecordText());
  MarkTitles(true);
}

// ---------------------------------------------------------------- replay

void CCaptureControl::OnOpenCaptureCommand() {
  const QString path = app_.Hooks().chooseFile(
      app_.MainFrame(), false, QStringLiteral("Open capture"), QString::fromLatin1(kFilter));
  if (!path.isEmpty()) OpenReplay(path);
}

bool CCaptureControl::OpenReplay(const QString& path, bool linkOnFailure) {
  if (opening_) return false;
  if (opener_.joinable()) opener_.join();
  opening_ = true;
  // The header and first frames are read, and indexing started, on a thread of its own.
  opener_ = std::thread([this, path, linkOnFailure] {
    std::string error;
    auto reader = capture::CaptureReader::Open(path.toStdString(), error);
    QMetaObject::invokeMethod(
        this,
        [this, path, reader, error = QString::fromStdString(error), linkOnFailure] {
          FinishOpen(path, reader, error, linkOnFailure);
        },
        Qt::QueuedConnection);
  });
  return true;
}

void CCaptureControl::FinishOpen(const QString& path,
                                 std::shared_ptr<capture::CaptureReader> reader,
                                 const QString& error, bool linkOnFailure) {
  if (opener_.joinable()) opener_.join();
  opening_ = false;
  if (!reader) {
    Message(QMessageBox::Warning, QStringLiteral("Cannot replay %1:\n%2").arg(path, error));
    if (linkOnFailure) app_.OpenConfiguredLink();
    return;
  }
  const capture::CaptureReader::Progress read = reader->GetProgress();
  if (read.done && !read.error.empty()) {
    Message(QMessageBox::Warning, QStringLiteral("%1: %2\nThe %3 frames before it are replayed.")
                                      .arg(path, QString::fromStdString(read.error))
                                      .arg(read.frames));
  }
  if (IsReplaying()) CloseReplay();
  player_ = std::make_shared<capture::CReplayPlayer>(reader);
  CTransCtrl& ctrl = app_.Ctrl();
  ctrl.Close();
  ctrl.SetLinkFactory(
      [player = player_](int) { return std::make_unique<capture::CReplayLink>(player); });
  if (app_.MainFrame()) app_.MainFrame()->SetReplayName(QFileInfo(path).fileName());
  const bool opened = ctrl.Open(capture::CReplayLink::LinkTypeOf(reader->GetHeader()), nullptr) == 1;
  app_.SetLinkStatus(opened ? LinkStatus::kConnected : LinkStatus::kDisconnected);

  bar_ = new CReplayBar(player_, QFileInfo(path).fileName(), app_.MainFrame());
  connect(bar_, &CReplayBar::closed, this,
          [this] { QTimer::singleShot(0, this, &CCaptureControl::CloseReplay); });
  bar_->show();
  replayTimer_ = new QTimer(this);
  replayTimer_->setInterval(kStatusMs);
  connect(replayTimer_, &QTimer::timeout, this, &CCaptureControl::ShowUnanswered);
  replayTimer_->start();
}

// The link's own opening queries are sent to every replay, and a capture started
// mid-session holds none of them: only the user's commands are worth a word.
bool CCaptureControl::IsOpeningQuery(const capture::Bytes& frame) {
  // What CTransCtrl::Open sends: version, report target, coordinate reports, panel.
  static const char* const kOpening[] = {CTransCtrl::kGetVersion, "SEND 024C020501 ",
                                         "SEND 024C020800 ", CTransCtrl::kGetFirmwareDetail};
  for (const char* cmd : kOpening) {
    const QByteArray hex = QByteArray(cmd).mid(5).trimmed();  // after "SEND "
    capture::Bytes bytes;
    if (capture::DecodeHex(hex.toStdString(), bytes) && bytes == frame) return true;
  }
  return false;
}

void CCaptureControl::ShowUnanswered() {
  if (!player_ || !bar_) return;
  auto unanswered = player_->TakeUnanswered();
  std::erase_if(unanswered, &CCaptureControl::IsOpeningQuery);
  if (unanswered.empty()) return;
  bar_->SetMessage(QStringLiteral("Not in the capture, answered negatively: %1")
                       .arg(HexText(unanswered.back())));
}

void CCaptureControl::CloseReplay() {
  if (!player_) return;
  delete replayTimer_;
  replayTimer_ = nullptr;
  if (bar_) {
    bar_->hide();
    bar_->deleteLater();
    bar_ = nullptr;
  }
  CTransCtrl& ctrl = app_.Ctrl();
  ctrl.Close();
  ctrl.SetLinkFactory(nullptr);
  player_.reset();
  if (app_.MainFrame()) app_.MainFrame()->SetReplayName(QString());
  app_.OpenConfiguredLink();
}

CReplayBar* CCaptureControl::Bar() const {
  return bar_;
}
