// The per-user local socket of the window application and the hand-over.
#include "app/SingleInstance.h"

#include "app/SettingsFile.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {

// Marks a message of this program, so a stranger on the socket is ignored.
constexpr quint32 HandOverMagic = 0x54503031;  // "TP01"
constexpr char Taken = 'T';
constexpr char NotTaken = 'N';

}  // namespace

TSingleInstance::TSingleInstance(QObject *Parent) : QObject(Parent) {}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::ServerName() {
  const QByteArray Folder = QByteArray::fromStdString(DataFolder());
  const QByteArray Hash = QCryptographicHash::hash(Folder, QCryptographicHash::Sha1).toHex().left(12);
  const QString Name = QStringLiteral("TessivoPlus.%1.%2").arg(::getuid()).arg(QString::fromLatin1(Hash));
  // The user's own run-time folder is private to the user; without one the
  // socket goes to the shared temporary folder, its name carrying the user id.
  const QByteArray Runtime = qgetenv("XDG_RUNTIME_DIR");
  if (!Runtime.isEmpty() && Runtime.startsWith('/')) return QString::fromLocal8Bit(Runtime) + "/" + Name;
  return Name;
}

TSingleInstance::THandOver TSingleInstance::HandOver(const QStringList &Args, int TimeoutMs) {
  QLocalSocket Socket;
  Socket.connectToServer(ServerName());
  if (!Socket.waitForConnected(TimeoutMs)) return THandOver::NoInstance;
  QByteArray Message;
  {
    QDataStream Out(&Message, QIODevice::WriteOnly);
    Out << HandOverMagic << Args;
  }
  QByteArray Framed;
  {
    QDataStream Out(&Framed, QIODevice::WriteOnly);
    Out << Message;
  }
  Socket.write(Framed);
  if (!Socket.waitForBytesWritten(TimeoutMs)) return THandOver::Dropped;
  while (Socket.bytesAvailable() < 1)
    if (!Socket.waitForReadyRead(TimeoutMs)) return THandOver::Dropped;
  char Answer = NotTaken;
  Socket.getChar(&Answer);
  Socket.disconnectFromServer();
  return Answer == Taken ? THandOver::Delivered : THandOver::Dropped;
}

bool TSingleInstance::Listen() {
  if (!FServer) {
    FServer = new QLocalServer(this);
    // No access options: with them the socket is made elsewhere and renamed
    // into place, which would silently replace a running instance's socket.
    connect(FServer, &QLocalServer::newConnection, this, &TSingleInstance::OnNewConnection);
  }
  if (FServer->listen(ServerName())) return true;
  if (FServer->serverError() != QAbstractSocket::AddressInUseError) return false;
  // The socket file exists: either an instance answers on it, or it was left behind.
  QLocalSocket Probe;
  Probe.connectToServer(ServerName());
  if (Probe.waitForConnected(1000)) return false;
  QLocalServer::removeServer(ServerName());
  return FServer->listen(ServerName());
}

void TSingleInstance::OnNewConnection() {
  while (QLocalSocket *Socket = FServer->nextPendingConnection()) {
    connect(Socket, &QLocalSocket::disconnected, Socket, &QObject::deleteLater);
    connect(Socket, &QLocalSocket::readyRead, this, [this, Socket] {
      QDataStream In(Socket);
      In.startTransaction();
      QByteArray Message;
      In >> Message;
      if (!In.commitTransaction()) return;  // not all there yet
      QDataStream Body(Message);
      quint32 Magic = 0;
      QStringList Args;
      Body >> Magic >> Args;
      const bool Take = FAccepting && Magic == HandOverMagic && Body.status() == QDataStream::Ok;
      Socket->putChar(Take ? Taken : NotTaken);
      Socket->flush();
      if (Take) emit ArgumentsReceived(Args);
    });
  }
}
