// window_startup: how long the window application takes from the start of
// its process to its main window being mapped on the display (run under
// Xvfb: bench/compare-window). Each round starts TessivoPlus afresh, waits
// for the MapNotify of its top-level window on the root window, then ends
// it; the wall time and the processor time (user + system) of the child up
// to that point are reported, fastest and median of the rounds.
//
//   window_startup PROGRAM ROUNDS
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

double Now() {
  timespec T;
  clock_gettime(CLOCK_MONOTONIC, &T);
  return double(T.tv_sec) * 1e3 + double(T.tv_nsec) / 1e6;
}

// The window's name starts with "TessivoPlus" (the main window's caption).
bool IsMainWindow(Display *D, Window W) {
  char *Name = nullptr;
  bool Yes = false;
  if (XFetchName(D, W, &Name) && Name) {
    Yes = std::strncmp(Name, "TessivoPlus", 11) == 0;
    XFree(Name);
  }
  return Yes;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_startup PROGRAM ROUNDS\n");
    return 2;
  }
  Display *D = XOpenDisplay(nullptr);
  if (!D) {
    std::fprintf(stderr, "window_startup: no display (run under xvfb-run)\n");
    return 2;
  }
  const int Rounds = std::max(1, std::atoi(argv[2]));
  XSelectInput(D, DefaultRootWindow(D), SubstructureNotifyMask);
  std::vector<double> Wall, Cpu;
  for (int r = 0; r < Rounds; ++r) {
    char *Args[] = {argv[1], nullptr};
    pid_t Pid;
    const double Start = Now();
    if (posix_spawn(&Pid, argv[1], nullptr, nullptr, Args, environ) != 0) {
      std::perror("posix_spawn");
      return 1;
    }
    double Shown = -1;
    while (Shown < 0 && Now() - Start < 30000) {
      while (XPending(D)) {
        XEvent E;
        XNextEvent(D, &E);
        if (E.type == MapNotify && IsMainWindow(D, E.xmap.window)) Shown = Now() - Start;
        // The name may come just after the map: look again on its first change.
        if (E.type == CreateNotify) XSelectInput(D, E.xcreatewindow.window, PropertyChangeMask | StructureNotifyMask);
      }
      if (Shown < 0) usleep(200);
    }
    kill(Pid, SIGKILL);
    int ExitCode;
    rusage Use{};
    wait4(Pid, &ExitCode, 0, &Use);
    if (Shown < 0) {
      std::fprintf(stderr, "window_startup: no window within 30 s\n");
      return 1;
    }
    Wall.push_back(Shown);
    Cpu.push_back(double(Use.ru_utime.tv_sec + Use.ru_stime.tv_sec) * 1e3 +
                  double(Use.ru_utime.tv_usec + Use.ru_stime.tv_usec) / 1e3);
  }
  auto Median = [](std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V[V.size() / 2];
  };
  std::printf("start-up to shown main window: fastest %.0f ms, median %.0f ms wall; median %.0f ms CPU (user+sys) "
              "over %d starts\n",
              *std::min_element(Wall.begin(), Wall.end()), Median(Wall), Median(Cpu), Rounds);
  XCloseDisplay(D);
  return 0;
}
