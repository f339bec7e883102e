// One window application per user: the first instance listens on a local
// socket; a later one hands its arguments over (all of them, switches
// included, paths made absolute) and ends, unless "Multiple" is on. The
// running instance treats the arguments as files dropped on its window. The
// socket's name is per user and per data folder, so separate data folders
// (tests, other profiles' homes) never meet.
#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

class TSingleInstance : public QObject {
  Q_OBJECT
public:
  enum class THandOver {
    NoInstance,  // nobody listens: this process is the first
    Delivered,   // the running instance took the arguments
    Dropped,     // an instance runs but takes no files (starting, or unattended)
  };

  explicit TSingleInstance(QObject *Parent = nullptr);
  ~TSingleInstance() override;

  // The socket name of this user and data folder.
  static QString ServerName();
  // Hands Args to the running instance, waiting at most TimeoutMs for each step.
  static THandOver HandOver(const QStringList &Args, int TimeoutMs = 3000);

  // Starts listening; false when another instance listens already (it
  // started in the meantime). A socket left behind by an instance that
  // crashed is taken over.
  bool Listen();
  // Whether arguments are taken. Until then (start-up, an unattended run)
  // a hand-over is answered as dropped.
  void SetAccepting(bool Accepting) { FAccepting = Accepting; }

signals:
  // The arguments of a later instance (possibly none: it wants this window shown).
  void ArgumentsReceived(const QStringList &Args);

private:
  void OnNewConnection();

  QLocalServer *FServer = nullptr;
  bool FAccepting = false;
};
