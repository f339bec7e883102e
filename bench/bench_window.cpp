// bench_window: the window application's own figures, on the offscreen
// platform (bench/compare-window runs it beside window_startup):
//
//   bench_window adding FILES      adding a folder of FILES small JPEG
//                                  photos (probed) through the adding
//                                  window: wall and processor time, and how
//                                  often the window repainted meanwhile
//   bench_window batch FILES ROUNDS  the same batch of FILES 3000 x 2000
//                                  photos to 800 pixels, run from the main
//                                  window and by tessivo, fastest of ROUNDS
//
// Processor time is user + system of this process (the window) or of the
// child (tessivo); on a shared machine it moves less than the wall clock.
#include "app/window/AddingWindow.h"
#include "app/window/MainForm.h"
#include "app/window/ProgressWindow.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/SamplePhotos.h"
#include "io/Pixio.h"
#include "resample/Filter.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;
namespace fs = std::filesystem;

namespace {

double WallMs() {
  using namespace std::chrono;
  return double(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count()) / 1e3;
}

double CpuMs(int Who) {
  rusage U{};
  getrusage(Who, &U);
  return double(U.ru_utime.tv_sec + U.ru_stime.tv_sec) * 1e3 +
         double(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e3;
}

// Counts the paints of the adding window's widgets.
class TPaintCounter : public QObject {
public:
  int Paints = 0;
  bool eventFilter(QObject *O, QEvent *E) override {
    if (E->type() == QEvent::Paint) {
      for (QObject *P = O; P; P = P->parent())
        if (qobject_cast<TAddingWindow *>(P)) {
          ++Paints;
          break;
        }
    }
    return false;
  }
};

std::string MakeTemp(const char *Name) {
  std::string T = std::string("/tmp/") + Name + "-XXXXXX";
  return ::mkdtemp(T.data());
}

int Adding(int Files) {
  const std::string Dir = MakeTemp("tessivo-bench-adding");
  TSamplePhotoSpec Desc;
  Desc.Width = 160;
  Desc.Height = 120;
  Desc.DateTimeOriginal = "2020:01:01 12:00:00";
  WriteSamplePhoto(Dir + "/seed.jpg", Desc);
  fs::create_directories(Dir + "/photos");
  for (int i = 0; i < Files; ++i)
    fs::copy_file(Dir + "/seed.jpg", Dir + "/photos/IMG_" + std::to_string(100000 + i) + ".jpg");
  TTessivoPlusMainForm Form(Dir + "/none.ini");
  Form.show();
  TPaintCounter Counter;
  qApp->installEventFilter(&Counter);
  FileOption.SkipImageCheck = LongFalse;  // probed
  const double W0 = WallMs(), C0 = CpuMs(RUSAGE_SELF);
  Form.AddFolder(Dir + "/photos");
  const double Wall = WallMs() - W0, Cpu = CpuMs(RUSAGE_SELF) - C0;
  qApp->removeEventFilter(&Counter);
  std::printf("adding %d files (probed) through the adding window: %.0f ms wall, %.0f ms CPU (user+sys), "
              "%.0f files/s; %d entries listed; the adding window painted %d times meanwhile\n",
              Files, Wall, Cpu, Files / (Wall / 1e3), Form.ImageList().Count(), Counter.Paints);
  fs::remove_all(Dir);
  return Form.ImageList().Count() == Files ? 0 : 1;
}

// The controller's elapsed-time text ("850ms", "12.34s") in ms.
double ElapsedMsOf(const std::string &Text) {
  const double V = std::atof(Text.c_str());
  return Text.find("ms") != std::string::npos ? V : V * 1e3;
}

struct TRunTimes {
  double Wall = -1, Cpu = 0, Batch = 0;  // Batch: the controller's own clock
};

// tessivo on the folder with the same settings.
TRunTimes RunTessivo(const std::string &Program, const std::string &Ini, const std::string &Photos,
                     const std::string &Log) {
  std::vector<std::string> A{Program, "/ini=" + Ini, Photos};
  std::vector<char *> Argv;
  for (auto &S : A) Argv.push_back(S.data());
  Argv.push_back(nullptr);
  posix_spawn_file_actions_t Fa;
  posix_spawn_file_actions_init(&Fa);
  posix_spawn_file_actions_addopen(&Fa, 2, Log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t Pid;
  const double W0 = WallMs();
  if (posix_spawn(&Pid, Program.c_str(), &Fa, nullptr, Argv.data(), environ) != 0) return {};
  int Status;
  rusage U{};
  wait4(Pid, &Status, 0, &U);
  posix_spawn_file_actions_destroy(&Fa);
  TRunTimes T;
  T.Wall = WallMs() - W0;
  T.Cpu = double(U.ru_utime.tv_sec + U.ru_stime.tv_sec) * 1e3 + double(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e3;
  // "N of M files converted in 1.23s (...)"
  std::ifstream In(Log);
  for (std::string Line; std::getline(In, Line);)
    if (const auto p = Line.find("converted in "); p != std::string::npos) T.Batch = ElapsedMsOf(Line.substr(p + 13));
  return T;
}

int Batch(int Files, int Rounds, const std::string &Tessivo) {
  const std::string Dir = MakeTemp("tessivo-bench-window");
  fs::create_directories(Dir + "/photos");
  for (int i = 0; i < Files; ++i) {
    TSamplePhotoSpec Desc;
    Desc.Width = 3000;
    Desc.Height = 2000;
    Desc.Seed = uint32_t(i + 1);
    Desc.DateTimeOriginal = "2020:01:01 12:00:00";
    WriteSamplePhoto(Dir + "/photos/IMG_" + std::to_string(1000 + i) + ".jpg", Desc);
  }
  const std::string Ini = Dir + "/bench.ini";
  std::ofstream(Ini) << "[File]\nFileNameFormat=" << Dir << "/out/<old>\nSameDirectory=0\nShowDirectory=0\n"
                     << "NotOverwrite=0\n[System]\nThumbnailSize=0\nMaxThread=2\nParallel=1\n"
                     << "[Resize]\nRule=1\nSize1=50,800\n";
  double BestWin = 1e18, BestWinCpu = 0, BestWinBatch = 0, BestCli = 1e18, BestCliCpu = 0, BestCliBatch = 0;
  TTessivoPlusMainForm Form(Ini);
  Form.show();
  Form.AddFolder(Dir + "/photos");
  for (int r = 0; r < Rounds; ++r) {
    // Alternate, so that both meet the same load of the shared machine.
    fs::remove_all(Dir + "/out");
    const double W0 = WallMs(), C0 = CpuMs(RUSAGE_SELF);
    Form.Run();
    const double Wall = WallMs() - W0, Cpu = CpuMs(RUSAGE_SELF) - C0;
    if (Wall < BestWin)
      BestWin = Wall, BestWinCpu = Cpu, BestWinBatch = ElapsedMsOf(Form.StatusElapsed->text().toStdString());
    fs::remove_all(Dir + "/out");
    const TRunTimes Cli = RunTessivo(Tessivo, Ini, Dir + "/photos", Dir + "/tessivo.log");
    if (Cli.Wall < 0) return 1;
    if (Cli.Wall < BestCli) BestCli = Cli.Wall, BestCliCpu = Cli.Cpu, BestCliBatch = Cli.Batch;
  }
  const double MPix = Files * 3000.0 * 2000.0 / 1e6;
  std::printf("batch of %d photos 3000x2000 to 800 px, 2 workers, fastest of %d:\n", Files, Rounds);
  std::printf("  window (Run, batch window)  %7.0f ms wall %7.0f ms CPU %7.0f ms batch clock  %6.1f MPix/s batch\n",
              BestWin, BestWinCpu, BestWinBatch, MPix / (BestWinBatch / 1e3));
  std::printf("  tessivo (whole process)     %7.0f ms wall %7.0f ms CPU %7.0f ms batch clock  %6.1f MPix/s batch\n",
              BestCli, BestCliCpu, BestCliBatch, MPix / (BestCliBatch / 1e3));
  std::printf("  window / tessivo: %.3f batch clock, %.3f CPU (tessivo's CPU includes listing and start-up), "
              "%.3f wall\n",
              BestWinBatch / BestCliBatch, BestWinCpu / BestCliCpu, BestWin / BestCli);
  fs::remove_all(Dir);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_window adding FILES | batch FILES ROUNDS\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::string Data = MakeTemp("tessivo-bench-data");
  ::setenv("TESSIVOPLUS_DATA", Data.c_str(), 1);
  QApplication App(argc, argv);
  LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  SystemOption.ProcessorCount = 2;
  CreateBatchObjects(2);
  ErrorLogForm();
  const std::string Mode = argv[1];
  int Result = 2;
  if (Mode == "adding") Result = Adding(std::atoi(argv[2]));
  if (Mode == "batch" && argc >= 4)
    Result = Batch(std::atoi(argv[2]), std::atoi(argv[3]), std::string(TESSIVO_BUILD_DIR) + "/tessivo");
  FreeBatchObjects();
  FreePixio();
  fs::remove_all(Data);
  return Result;
}
