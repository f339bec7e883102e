// TessivoPlus: the window application. Reads what it needs of the settings
// file before anything else, hands its files to a running instance (unless
// "Multiple" is on), runs the start-up sequence and opens the main window
// with the paths of the command line in its list; or, for an unattended run
// ("AtOnce" with files), only the batch window, or without a display the
// terminal view.
#include "app/SettingsFile.h"
#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "app/StartupWindow.h"
#include "app/window/AddingWindow.h"
#include "app/window/MainForm.h"
#include "batch/ErrorLogFrm.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// SIGTERM, SIGINT and SIGHUP (a session ending, Ctrl+C in a terminal) close
// the windows as the close box would, so the settings are stored: the
// handler only writes to a pipe that the event loop watches.
int StopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(StopPipe[1], &c, 1);
}

// The adding window refuses to close until its listing thread has answered
// the cancel, and a refused close ends closeAllWindows there, leaving the
// main window open; so while it is up the stop is tried again shortly.
void CloseWindowsForStop() {
  QApplication::closeAllWindows();
  if (qobject_cast<TAddingWindow *>(QApplication::activeModalWidget()))
    QTimer::singleShot(100, [] { CloseWindowsForStop(); });
}

void CloseWindowsOnStopSignals(QApplication &App) {
  if (::pipe2(StopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto *Notifier = new QSocketNotifier(StopPipe[0], QSocketNotifier::Read, &App);
  QObject::connect(Notifier, &QSocketNotifier::activated, &App, [] {
    char Buf[16];
    while (::read(StopPipe[0], Buf, sizeof Buf) > 0) {
    }
    // A window busy with a run refuses to close; the program then goes on.
    CloseWindowsForStop();
  });
  struct sigaction Stop {};
  Stop.sa_handler = OnStopSignal;
  sigemptyset(&Stop.sa_mask);
  for (const int Signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(Signal, &Stop, nullptr);
}

std::string CurrentFolder() {
  char Buf[4096];
  return ::getcwd(Buf, sizeof Buf) ? std::string(Buf) : std::string("/");
}

std::vector<std::string> ArgumentsOf(const QStringList &Args) {
  std::vector<std::string> Out;
  for (qsizetype i = 1; i < Args.size(); ++i) Out.push_back(Args[i].toStdString());
  return Out;
}

// With TESSIVOPLUS_STARTUP_TIMES set, the start-up phases on standard error.
void ReportPhase(const char *Name, double Ms) {
  if (std::getenv("TESSIVOPLUS_STARTUP_TIMES")) std::fprintf(stderr, "startup %s %.2f ms\n", Name, Ms);
}

double MsSince(std::chrono::steady_clock::time_point T0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - T0).count();
}

}  // namespace

int main(int argc, char **argv) {
  const auto T0 = std::chrono::steady_clock::now();
  const std::string Cwd = CurrentFolder();
  // Decided before the toolkit starts: without a display it could not.
  {
    const TWindowCommandLine Early = ParseWindowCommandLine(std::vector<std::string>(argv + 1, argv + argc), Cwd);
    if (IsAtOnceRun(Early, ReadEarlySettings(CurrentSettingsFileOf(Early))) && !DisplayAvailable())
      return ExecTerminalRun(Early);
  }

  QApplication App(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TessivoPlus"));
  QApplication::setApplicationVersion(QStringLiteral(TESSIVO_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("TessivoPlus"));
  ReportPhase("toolkit", MsSince(T0));

  // The toolkit has taken its own options out of the arguments.
  const TWindowCommandLine Cmd = ParseWindowCommandLine(ArgumentsOf(QCoreApplication::arguments()), Cwd);
  const std::string IniPath = CurrentSettingsFileOf(Cmd);
  const TEarlySettings Early = ReadEarlySettings(IniPath);
  ReserveAddressSpace(Early.MemReserve);
  const bool AtOnceRun = IsAtOnceRun(Cmd, Early);

  // Every instance offers itself to later ones; with "Multiple" on, this one
  // does not look for a running one.
  TSingleInstance Instance;
  const QStringList HandOverArgs = HandOverArguments(Cmd, Cwd);
  if (!Early.Multiple && TSingleInstance::HandOver(HandOverArgs) != TSingleInstance::THandOver::NoInstance) return 0;
  // Another instance may have started listening in the meantime: it gets the files.
  if (!Instance.Listen() && !Early.Multiple &&
      TSingleInstance::HandOver(HandOverArgs) != TSingleInstance::THandOver::NoInstance)
    return 0;
  ReportPhase("instance", MsSince(T0));

  TStartupTimes Times;
  if (!InitApp(MessageBoxHooks(), &Times)) {
    DoneApp();
    return 3;
  }
  ReportPhase("folders", Times.Folders);
  ReportPhase("libraries", Times.Libraries);
  ReportPhase("objects", Times.Objects);
  ErrorLogForm();  // loader and prober failures go to the log from here on

  int Result = 0;
  if (AtOnceRun) {
    ReleaseAddressSpace();
    Result = RunAtOnceWindow(InputPathsOf(Cmd, Cwd), IniPath);
  } else {
    if (const std::string E = LoadPluginsOnce(IniPath); !E.empty()) std::fprintf(stderr, "TessivoPlus: %s\n", E.c_str());
    TTessivoPlusMainForm Form(IniPath);
    Form.OnSaveSettings = SaveMainWindowSettings;
    CloseWindowsOnStopSignals(App);
    Form.show();
    ReleaseAddressSpace();
    ReportPhase("shown", MsSince(T0));
    if (std::getenv("TESSIVOPLUS_STARTUP_TIMES"))
      QTimer::singleShot(0, &Form, [T0] { ReportPhase("first-events", MsSince(T0)); });
    // Files handed over by later instances are dropped on this window (queued:
    // the adding window must not run inside the socket's own handler).
    QObject::connect(
        &Instance, &TSingleInstance::ArgumentsReceived, &Form,
        [&Form](const QStringList &Args) {
          Form.raise();
          Form.activateWindow();
          const std::vector<std::string> Paths = HandedOverPaths(Args);
          if (!Paths.empty()) Form.AddDropFiles(Paths);
        },
        Qt::QueuedConnection);
    Instance.SetAccepting(true);
    const std::vector<std::string> Paths = InputPathsOf(Cmd, Cwd);
    if (!Paths.empty()) QTimer::singleShot(0, &Form, [&Form, Paths] { Form.AddPaths(Paths); });
    Result = App.exec();
    Instance.SetAccepting(false);
  }
  DoneApp();
  return Result;
}
