#include "CSingleInstance.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

namespace {

constexpr int kConnectTimeoutMs = 500;
const char kRaise[] = "raise\n";

QString UserName() {
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_name != nullptr)
    return QString::fromLocal8Bit(pw->pw_name);
  return QString::number(getuid());
}

}  // namespace

CSingleInstance::CSingleInstance(const QString& name, QObject* parent)
    : QObject(parent), name_(name) {}

CSingleInstance::~CSingleInstance() {
  if (server_ != nullptr) server_->close();
}

QString CSingleInstance::LockPath(const QString& name) {
  return QDir::temp().filePath(ServerName(name) + QStringLiteral(".lock"));
}

QString CSingleInstance::ServerName(const QString& name) {
  return UserName() + "-" + name;
}

bool CSingleInstance::Answers(const QString& serverName) {
  QLocalSocket socket;
  socket.connectToServer(serverName);
  return socket.waitForConnected(kConnectTimeoutMs);
}

CSingleInstance::Result CSingleInstance::Start() {
  const QString own = ServerName(name_);
  // The lock is taken atomically (a lock left by a crashed copy is taken over), so two
  // copies started at the same moment cannot both run.
  lock_ = std::make_unique<QLockFile>(LockPath(name_));
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(0)) {
    lock_.reset();
    QLocalSocket socket;
    socket.connectToServer(own);
    if (socket.waitForConnected(kConnectTimeoutMs)) {
      socket.write(kRaise);
      socket.waitForBytesWritten(kConnectTimeoutMs);
      socket.disconnectFromServer();
      return kAlreadyRunning;
    }
    if (Answers(ServerName(QStringLiteral("DFU Tool")))) return kDfuToolRunning;
    return kAlreadyRunning;  // still starting: it will come up by itself
  }

  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(own)) {
    // A server file left by a crashed copy: we hold the lock, so it is stale.
    QLocalServer::removeServer(own);
    server_->listen(own);
  }
  connect(server_, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
  return kFirst;
}

void CSingleInstance::OnNewConnection() {
  while (QLocalSocket* client = server_->nextPendingConnection()) {
    auto check = [this, client] {
      if (client->readAll().contains("raise")) emit raiseRequested();
    };
    connect(client, &QLocalSocket::readyRead, this, check);
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    if (client->bytesAvailable() > 0) check();
  }
}
