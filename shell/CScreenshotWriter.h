// Opens every window of the program and writes a PNG of each (documentation, checks).
#pragma once

#include <QString>
#include <QStringList>

class CSendDialog;
class CVantrelToolApp;
class CWndGraphDialog;
class CWndXYFullDialog;
class QWidget;

class CScreenshotWriter {
 public:
  CScreenshotWriter(CVantrelToolApp& app, const QString& dir);

  // Runs the whole sequence with a local event loop; false when a file could not be written.
  bool Run();
  const QStringList& Written() const { return written_; }
  const QStringList& Errors() const { return errors_; }

 private:
  void Grab(QWidget* w, const QString& name);
  void GrabWave(CSendDialog* send);
  void GrabWaveStatistics(CWndGraphDialog* wave);
  void GrabXY(CSendDialog* send);
  void GrabMapStatistics(CWndXYFullDialog* full, CSendDialog* send);
  void GrabMapStreams(CWndXYFullDialog* full, CSendDialog* send);
  void GrabReplug();
  void GrabDialogs();
  void GrabReplay();
  // Lets events run for about ms milliseconds, or until done() holds.
  template <typename Pred>
  void Wait(int ms, Pred done);

  CVantrelToolApp& app_;
  QString dir_;
  QStringList written_;
  QStringList errors_;
};
