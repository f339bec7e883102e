// Shortcuts that start the program with a settings profile of their own:
// ".desktop" launchers on the desktop, or in $XDG_DATA_HOME/applications,
// where file managers offer them for "open with" (the send-to place of this
// system). Files dropped on a launcher reach the program as arguments. The
// rules of the shortcut dialog live here; the dialog only collects the
// choices and asks the questions.
#pragma once

#include <functional>
#include <string>
#include <vector>

class TEffectList;

// The desktop folder: XDG_DESKTOP_DIR of user-dirs.dirs, else ~/Desktop.
std::string DesktopFolder();
// $XDG_DATA_HOME/applications (default ~/.local/share/applications).
std::string SendToFolder();
// DataFolder() + "ShortCutFiles.dat": the launchers this program made, one path a line.
std::string ShortcutRecordFile();

struct TShortcutRequest {
  std::string Name = "TessivoPlus";
  bool Desktop = false;  // else the send-to place
  bool MakeIni = true;   // "現在の設定を保存して使用": save the current settings as the launcher's profile
  bool AtOnce = false;   // "即時変換にする": that profile converts at once
};

// Where the launcher of Request goes: its folder + "/" + name + ".desktop".
std::string ShortcutPathOf(const TShortcutRequest &Request);

// The profile file name for a launcher called Name: "Name.ini", or, when
// that exists in the settings folder, the first free "Name[k].ini", k = 1, 2 ...
std::string NewProfileNameFor(const std::string &Name);

// The launcher file's text: starts Program in its folder with Args, then
// the dropped files (%F). Every argument is quoted as the desktop-entry
// format wants it.
std::string DesktopEntryText(const std::string &Name, const std::string &Program, const std::vector<std::string> &Args,
                             const std::string &Icon);
// The arguments of a launcher file's Exec line between the program and the
// field codes; empty when the file cannot be read or has none.
std::vector<std::string> DesktopEntryArguments(const std::string &Path);

// The overwrite question for an existing launcher at Path.
std::string OverwriteQuestion(const std::string &Path);  // Path + " は既に存在します。\r\n上書きしますか？"

enum class TShortcutResult {
  Created,   // the launcher (and its profile) are written and recorded
  Declined,  // the launcher existed and the overwrite was declined: stay in the dialog
  Failed,    // Error says why; nothing of the old launcher was lost
};

// Creates the launcher of Request for Program (an empty name does nothing
// and answers Declined). An existing launcher is replaced only when Confirm
// answers true for OverwriteQuestion; the profile that launcher named through
// "/ini=" (a bare name in the settings folder, not the default profile) is
// deleted first. With MakeIni the current settings are saved as a new
// profile (AtOnce turned on for that save only when asked) and the launcher
// passes "/ini=" with its name. The launcher is recorded in
// ShortcutRecordFile() once.
TShortcutResult CreateShortcut(const TShortcutRequest &Request, const std::string &Program, const std::string &Icon,
                               const TEffectList &Effects, const std::function<bool(const std::string &)> &Confirm,
                               std::string &Error);
