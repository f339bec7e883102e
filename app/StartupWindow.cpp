// Start-up pieces of the window program that show windows.
#include "app/StartupWindow.h"

#include "app/CommandLine.h"
#include "app/SettingsFile.h"
#include "app/window/AddingWindow.h"
#include "app/window/ErrorLogWindow.h"
#include "app/window/MainForm.h"
#include "app/window/ProgressWindow.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/SizeRule.h"
#include "core/ProgramFolder.h"
#include "effects/Effect.h"
#include "effects/ResizeOption.h"

#include <QMessageBox>

#include <cstdio>

TStartupHooks MessageBoxHooks() {
  TStartupHooks H;
  H.LoadLibraryError = [](const std::string &Text) {
    QMessageBox::critical(nullptr, QStringLiteral("LoadLibrary Error"), QString::fromStdString(Text));
  };
  H.Warning = [](const std::string &Text) { std::fprintf(stderr, "TessivoPlus: %s\n", Text.c_str()); };
  H.UnsupportedProcessor = [](const std::string &Text) {
    QMessageBox::warning(nullptr, QStringLiteral("TessivoPlus"), QString::fromStdString(Text));
  };
  return H;
}

QStringList HandOverArguments(const TWindowCommandLine &Cmd, const std::string &Cwd) {
  QStringList Args;
  if (Cmd.HasIni) {
    // A bare name stays a name in the settings folder; a path is made absolute.
    const std::string Ini = Cmd.Ini.find('/') == std::string::npos ? Cmd.Ini : AbsolutePath(Cmd.Ini, Cwd);
    Args << QString::fromStdString("/ini=" + Ini);
  }
  if (Cmd.HasList) Args << QString::fromStdString("/list=" + Cmd.ListFile);
  for (const std::string &P : Cmd.Paths) Args << QString::fromStdString(P);
  return Args;
}

std::vector<std::string> HandedOverPaths(const QStringList &Args) {
  std::vector<std::string> Plain;
  for (const QString &A : Args) Plain.push_back(A.toStdString());
  // The paths are absolute already; "/" only stands for a folder to resolve against.
  return InputPathsOf(ParseWindowCommandLine(Plain, "/"), "/");
}

int RunAtOnceWindow(const std::vector<std::string> &Paths, const std::string &IniPath) {
  TEffectList Effects;
  CreateDefaultEffects(Effects, ProgramBinFolder());
  try {
    const std::string Warning = LoadIniFile(IniPath, Effects);
    if (!Warning.empty()) ErrorLogForm().PutErrorMsg(IniPath + ": " + Warning);
  } catch (const std::exception &E) {
    ErrorLogForm().PutErrorMsg(IniPath + ": " + E.what());
    ShowErrorLogIfAny(nullptr);
    return 1;
  }
  if (const std::string E = LoadPluginsOnce(IniPath); !E.empty()) ErrorLogForm().PutErrorMsg(E);

  TImageInfoList List;
  {
    TAddingWindow Adding(List);
    TListupOptions Options = CurrentListupOptions();
    Options.OutputTemplate = FileOption.FileNameFormat;
    Adding.SetOptions(Options);
    Adding.AddFiles(Paths, false);
    if (Adding.Execute() != 1) return 1;  // cancelled while listing
  }
  int32_t Result = 0;
  if (List.Count() > 0) {
    try {
      // The stored rule: an unattended run has no window to take it from.
      const TSizeParam Size = ResolveSizeRuleUnattended(ResizeOption);
      Effects.SetResizeParam(Size.Type, Size.Value, Size.Value2);
      ApplyResizeKernels(ResizeOption.DecimationMode, ResizeOption.InterpolationMode, ResizeOption.SIMDMode);
      std::string ResultText;
      Result = ConvertMode == CONVERT_MODE_COMBINE ? ShowCombineWindow(nullptr, List, ResultText)
                                                   : ShowBatchWindow(nullptr, List, Effects, ResultText);
    } catch (const std::exception &E) {
      ErrorLogForm().PutErrorMsg(E.what());
    }
    if (FileOption.ResetType == 2)
      WriteWithRetries([&] { SaveStartNumber(IniPath); },
                       [](const std::string &E) { return TTessivoPlusMainForm::AskWriteRetry(nullptr, E); });
  }
  const bool Errors = ErrorLogForm().GetErrorCount() > 0;
  ShowErrorLogIfAny(nullptr);
  return Errors || (List.Count() > 0 && Result != 1) ? 1 : 0;
}

void SaveMainWindowSettings(TTessivoPlusMainForm &Form) {
  Form.StoreWindowSettings();
  SaveSettingsAtExit(Form.IniPath(), Form.Effects(),
                     [&Form](const std::string &E) { return TTessivoPlusMainForm::AskWriteRetry(&Form, E); });
}
