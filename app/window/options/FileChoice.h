// The file and folder choices of the option dialogs, in Qt's own file dialog
// (the same everywhere, and one the window tests can drive), with the
// filters of this system's files.
#pragma once

#include <QString>

class QWidget;

// The viewer: programs on Linux carry no ".exe", so every file is offered,
// starting in the folder where the system keeps its programs.
inline constexpr const char *VIEWER_FILTER = "外部ビューア (*)";
inline constexpr const char *VIEWER_DIALOG_FOLDER = "/usr/bin";
// The post-run command: a program (no extension) or a shell script take the
// place of ".exe" and ".bat".
inline constexpr const char *COMMAND_FILTER = "プログラム (*);;シェルスクリプト (*.sh)";
inline constexpr const char *SOUND_FILTER = "Waveファイル (*.wav)";
inline constexpr const char *PROFILE_FILTER = "ICCプロファイル (*.icc *.icm)";

// An existing file chosen in a dialog titled Title, opening in Folder; empty
// when cancelled.
QString AskFile(QWidget *Parent, const QString &Title, const QString &Folder, const char *Filter);
// A folder chosen in a folder browser titled Title that opens 22 pixels
// right of and below Parent's window and pre-selects InitFolder when it
// exists; empty when cancelled.
QString AskFolder(QWidget *Parent, const QString &Title, const QString &InitFolder);
