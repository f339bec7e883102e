// The window program's start-up where a toolkit is needed: the start-up
// messages as boxes, the arguments handed to a running instance and taken
// from a later one, and the unattended run with a display, where the batch
// window (or the combining window) is the only window.
#pragma once

#include "app/Startup.h"

#include <QStringList>

#include <string>
#include <vector>

class TTessivoPlusMainForm;

// "LoadLibrary Error" and "非対応CPUです" as message boxes; warnings on standard error.
TStartupHooks MessageBoxHooks();

// The arguments a later instance hands over: "/ini=" and "/list=" as given
// (their paths made absolute), then every input path, absolute, so that the
// running instance reads them from wherever it was started.
QStringList HandOverArguments(const TWindowCommandLine &Cmd, const std::string &Cwd);
// What the running instance adds from handed-over arguments: the paths and
// the lines of a "/list=" file; the switches themselves change nothing.
std::vector<std::string> HandedOverPaths(const QStringList &Args);

// The unattended run: the settings of IniPath, the files listed through the
// adding window, then the batch window (or the combining window in the
// combining mode) converting them; the program ends when it closes. The
// error log, when it holds messages, is shown before. Answers the exit
// status: 0 clean, 1 when something did not convert or the run was stopped.
int RunAtOnceWindow(const std::vector<std::string> &Paths, const std::string &IniPath);

// The main window's settings at exit: the window state into the records,
// then the exit rules of the profiles, with the retry question as a box.
void SaveMainWindowSettings(TTessivoPlusMainForm &Form);
