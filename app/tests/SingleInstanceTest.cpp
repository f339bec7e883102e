// The hand-over between a later instance and the running one: the later one
// runs in a thread of its own (as it would in its own process), the running
// one answers from this thread's event loop.
#include "app/SingleInstance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QLocalServer>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <filesystem>
#include <future>
#include <memory>

namespace fs = std::filesystem;

namespace {

QCoreApplication &App() {
  static int Argc = 1;
  static char Name[] = "single_instance_tests";
  static char *Argv[] = {Name, nullptr};
  static QCoreApplication A(Argc, Argv);
  return A;
}

class SingleInstance : public ::testing::Test {
protected:
  void SetUp() override {
    App();
    char Tmpl[] = "/tmp/tessivo-instance-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    ::setenv("TESSIVOPLUS_DATA", (Dir + "/data").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("TESSIVOPLUS_DATA");
    fs::remove_all(Dir);
  }
  // Runs the hand-over of Args in another thread while this one serves.
  TSingleInstance::THandOver HandOverServed(const QStringList &Args) {
    auto Later = std::async(std::launch::async, [Args] { return TSingleInstance::HandOver(Args, 5000); });
    while (Later.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return Later.get();
  }
  std::string Dir;
};

}  // namespace

TEST_F(SingleInstance, ALaterInstanceHandsItsArgumentsToTheRunningOne) {
  TSingleInstance First;
  ASSERT_TRUE(First.Listen());
  First.SetAccepting(true);
  QList<QStringList> Received;
  QObject::connect(&First, &TSingleInstance::ArgumentsReceived, [&](const QStringList &A) { Received.push_back(A); });
  const QStringList Args = {"/ini=写真.ini", "/home/u/a b.jpg", "/home/u/c.png"};
  EXPECT_EQ(HandOverServed(Args), TSingleInstance::THandOver::Delivered);
  ASSERT_EQ(Received.size(), 1);
  EXPECT_EQ(Received[0], Args);
  // A second one without arguments only asks for the window.
  EXPECT_EQ(HandOverServed({}), TSingleInstance::THandOver::Delivered);
  ASSERT_EQ(Received.size(), 2);
  EXPECT_TRUE(Received[1].isEmpty());
}

TEST_F(SingleInstance, AnInstanceThatTakesNoFilesDropsThem) {
  TSingleInstance First;
  ASSERT_TRUE(First.Listen());
  bool Received = false;
  QObject::connect(&First, &TSingleInstance::ArgumentsReceived, [&] { Received = true; });
  EXPECT_EQ(HandOverServed({"/home/u/a.jpg"}), TSingleInstance::THandOver::Dropped);
  EXPECT_FALSE(Received);
}

TEST_F(SingleInstance, WithNobodyListeningTheLaterInstanceIsTheFirst) {
  EXPECT_EQ(TSingleInstance::HandOver({"/home/u/a.jpg"}, 1000), TSingleInstance::THandOver::NoInstance);
  TSingleInstance Only;
  EXPECT_TRUE(Only.Listen());
  TSingleInstance Second;
  EXPECT_FALSE(Second.Listen()) << "two instances never listen at once";
}

TEST_F(SingleInstance, ASocketLeftByACrashedInstanceIsTakenOver) {
  // Where the socket lives, from a listener that is closed again at once.
  QString Path;
  {
    QLocalServer Probe;
    ASSERT_TRUE(Probe.listen(TSingleInstance::ServerName()));
    Path = Probe.fullServerName();
  }
  // A killed process leaves its socket file with nobody behind it.
  const int Fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un Addr{};
  Addr.sun_family = AF_UNIX;
  std::strncpy(Addr.sun_path, Path.toLocal8Bit().constData(), sizeof Addr.sun_path - 1);
  ASSERT_EQ(::bind(Fd, reinterpret_cast<const sockaddr *>(&Addr), sizeof Addr), 0);
  ::close(Fd);
  ASSERT_TRUE(fs::exists(Path.toStdString()));
  TSingleInstance Next;
  EXPECT_TRUE(Next.Listen());
  Next.SetAccepting(true);
  EXPECT_EQ(HandOverServed({"/x.jpg"}), TSingleInstance::THandOver::Delivered);
}

TEST_F(SingleInstance, SeparateDataFoldersNeverMeet) {
  const QString A = TSingleInstance::ServerName();
  ::setenv("TESSIVOPLUS_DATA", (Dir + "/other").c_str(), 1);
  EXPECT_NE(TSingleInstance::ServerName(), A);
}
