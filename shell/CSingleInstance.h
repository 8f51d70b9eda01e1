// One running copy per user: a lock file decides which copy runs, a local server named
// after the user and the program lets a later copy raise it.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLockFile;

class CSingleInstance : public QObject {
  Q_OBJECT

 public:
  enum Result {
    kFirst,           // this process holds the lock and is the one instance; the server listens
    kAlreadyRunning,  // another copy holds the lock (and, if it answered, was asked to raise)
    kDfuToolRunning,  // another copy holds the lock, none answered, the DFU tool does
  };

  // name: "VantrelTool"; the DFU tool listens under "DFU Tool" with the same scheme.
  explicit CSingleInstance(const QString& name, QObject* parent = nullptr);
  ~CSingleInstance() override;

  Result Start();
  static QString ServerName(const QString& name);
  // The lock file held by the running copy.
  static QString LockPath(const QString& name);

 signals:
  // Another start asked this instance to show itself.
  void raiseRequested();

 private:
  static bool Answers(const QString& serverName);
  void OnNewConnection();

  QString name_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
};
