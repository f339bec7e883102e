// Writes a picture of every page of the environment dialog and of the resize
// dialog into the folder given, for a person to look at the layout and the
// Japanese captions (run it on a display, e.g. under xvfb-run).
#include "app/SettingsFile.h"
#include "app/window/options/EnvOptionForm.h"
#include "app/window/options/ResizeOptionForm.h"
#include "batch/ConvertOption.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>

#include <cstdio>

int main(int Argc, char **Argv) {
  if (Argc < 2) {
    std::fprintf(stderr, "usage: env-dialog-shots FOLDER\n");
    return 2;
  }
  QApplication App(Argc, Argv);
  const QString Folder = QString::fromLocal8Bit(Argv[1]);
  QDir().mkpath(Folder);
  SystemOption.ProcessorCount = 8;
  ApplySystemThreadRules(SystemOption, 0, true);
  FileOption.FileNameFormat = "/home/user/Pictures/resized/<old>";
  FileOption.SameDirectory = false;
  FileOption.ClipBoardTempDir = "/tmp";
  SystemOption.Command = "/usr/local/bin/upload \"<dir>\"";
  SystemOption.UseExternalTool = true;
  bool Ok = true;
  {
    TEnvOptionForm Form;
    Form.show();
    for (int Page = 0; Page < Form.Tabs->count(); ++Page) {
      Form.Tabs->setCurrentIndex(Page);
      App.processEvents();
      const QString Name = QStringLiteral("%1/env-%2.png").arg(Folder).arg(Page);
      Ok = Form.grab().save(Name) && Ok;
    }
  }
  {
    ResizeOption.DecimationMode = 2;
    ResizeOption.InterpolationMode = 4;
    TResizeOptionForm Form(ResizeOption);
    Form.show();
    App.processEvents();
    Ok = Form.grab().save(Folder + QStringLiteral("/resize.png")) && Ok;
  }
  return Ok ? 0 : 1;
}
