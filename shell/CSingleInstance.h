// One running copy per user: a local server named after the user and the program.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

class CSingleInstance : public QObject {
  Q_OBJECT

 public:
  enum Result {
    kFirst,           // this process is the one instance; the server listens
    kAlreadyRunning,  // another copy answered and was asked to raise its window
    kDfuToolRunning,  // the DFU tool answers under its own name
  };

  // name: "VantrelTool"; the DFU tool listens under "DFU Tool" with the same scheme.
  explicit CSingleInstance(const QString& name, QObject* parent = nullptr);
  ~CSingleInstance() override;

  Result Start();
  static QString ServerName(const QString& name);

 signals:
  // Another start asked this instance to show itself.
  void raiseRequested();

 private:
  static bool Answers(const QString& serverName);
  void OnNewConnection();

  QString name_;
  QLocalServer* server_ = nullptr;
};
