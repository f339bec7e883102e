// TessivoPlus: the window application. Binds the run-time libraries, makes
// the program-wide engines, reads the settings file and opens the main
// window with the paths of the command line in its list.
#include "app/CommandLine.h"
#include "app/SettingsFile.h"
#include "app/window/MainForm.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "core/MultiThread.h"
#include "effects/FisheyeLibrary.h"
#include "effects/DenoisePass.h"
#include "io/Pixio.h"
#include "resample/Filter.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string CurrentFolder() {
  char Buf[4096];
  return ::getcwd(Buf, sizeof Buf) ? std::string(Buf) : std::string("/");
}

}  // namespace

int main(int argc, char **argv) {
  QApplication App(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TessivoPlus"));
  QApplication::setApplicationVersion(QStringLiteral(TESSIVO_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("TessivoPlus"));

  const std::string Cwd = CurrentFolder();
  const TCommandLine Cmd = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), Cwd);
  if (!Cmd.Error.empty()) {
    std::fprintf(stderr, "TessivoPlus: %s\n", Cmd.Error.c_str());
    return 2;
  }
  CreateDataFolders();
  const std::string IniPath = Cmd.HasIni ? ResolveSettingsFileName(Cmd.Ini) : DefaultSettingsFile();

  SystemOption.ProcessorCount = LogicalProcessorCount();
  try {
    LoadPixio();
    LoadResizeLibrary();
    LoadFisheyeLibrary();  // the lens library is bound with the resampling one
  } catch (const std::exception &E) {
    QMessageBox::critical(nullptr, QStringLiteral("LoadLibrary Error"), QString::fromStdString(E.what()));
    return 3;
  }
  try {
    LoadDenoiseLibrary();
  } catch (const std::exception &E) {
    std::fprintf(stderr, "TessivoPlus: %s\n", E.what());
  }
  CreateBatchObjects(SystemOption.ProcessorCount);
  ErrorLogForm();  // loader and prober failures go to the log from here on
  int Result = 0;
  {
    TTessivoPlusMainForm Form(IniPath);
    Form.show();
    std::vector<std::string> Paths = Cmd.Paths;
    if (Cmd.HasList && !ReadListFile(Cmd.ListFile, Cwd, Paths))
      ErrorLogForm().PutErrorMsg(Cmd.ListFile + ": cannot read the list file");
    if (!Paths.empty())
      QTimer::singleShot(0, &Form, [&Form, Paths] { Form.AddPaths(Paths); });
    Result = App.exec();
  }
  FreeBatchObjects();
  FreePixio();
  return Result;
}
