// Launchers with a profile of their own, and the rules of the shortcut dialog.
#include "app/Shortcut.h"

#include "app/SettingsFile.h"
#include "batch/ConvertOption.h"
#include "batch/ConvertOptionIni.h"
#include "core/AsciiCase.h"
#include "core/TempFile.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Exists(const std::string &Path) {
  struct stat st;
  return ::lstat(Path.c_str(), &st) == 0;
}

std::string ReadAll(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
}

// One argument of an Exec line: always quoted, with the characters the
// format reserves inside quotes escaped and "%" doubled so that it is never a
// field code; then the backslashes doubled once more, since the whole value
// is itself an escaped string.
std::string QuoteExecArgument(const std::string &Arg) {
  std::string Q = "\"";
  for (const char c : Arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') Q += '\\';
    if (c == '%') Q += '%';
    Q += c;
  }
  Q += '"';
  std::string Out;
  for (const char c : Q) Out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return Out;
}

// The Exec value split back into arguments (the inverse of QuoteExecArgument
// joined with blanks, and of unquoted words).
std::vector<std::string> SplitExecLine(const std::string &Value) {
  std::string Plain;  // the string-level escapes undone
  for (size_t i = 0; i < Value.size(); ++i) {
    if (Value[i] == '\\' && i + 1 < Value.size()) {
      const char n = Value[++i];
      Plain += n == 's' ? ' ' : n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n;
    } else {
      Plain += Value[i];
    }
  }
  std::vector<std::string> Args;
  std::string Cur;
  bool InQuotes = false, HasArg = false;
  for (size_t i = 0; i < Plain.size(); ++i) {
    const char c = Plain[i];
    if (InQuotes) {
      if (c == '\\' && i + 1 < Plain.size()) {
        Cur += Plain[++i];
      } else if (c == '"') {
        InQuotes = false;
      } else {
        Cur += c;
      }
    } else if (c == '"') {
      InQuotes = HasArg = true;
    } else if (c == ' ' || c == '\t') {
      if (HasArg) Args.push_back(Cur);
      Cur.clear();
      HasArg = false;
    } else {
      Cur += c;
      HasArg = true;
    }
  }
  if (HasArg) Args.push_back(Cur);
  return Args;
}

// The profile an existing launcher named: deleted with the launcher, unless
// it is the default profile or names something outside the settings folder.
void DeleteProfileOfLauncher(const std::string &LauncherPath) {
  std::string Joined;
  for (const std::string &A : DesktopEntryArguments(LauncherPath)) Joined += (Joined.empty() ? "" : " ") + A;
  Joined.erase(std::remove(Joined.begin(), Joined.end(), '"'), Joined.end());
  const size_t At = AsciiLower(Joined).find("/ini=");
  if (At == std::string::npos || AsciiLower(Joined) == "/ini=tessivoplus.ini") return;
  const std::string Name = Joined.substr(At + 5);
  if (Name.empty() || Name.find('/') != std::string::npos || Name == "." || Name == "..") return;
  const std::string Profile = SettingsFolder() + Name;
  if (Profile != DefaultSettingsFile() && Exists(Profile)) ::unlink(Profile.c_str());
}

void WriteTextFile(const std::string &Path, const std::string &Text, int32_t Mode) {
  TOutputFileOptions Options;
  Options.Mode = Mode;
  TOutputFile Out(Path, Options);
  Out.Write({reinterpret_cast<const uint8_t *>(Text.data()), Text.size()});
  Out.Commit();
}

void RecordShortcut(const std::string &Path) {
  const std::string Record = ShortcutRecordFile();
  std::ifstream In(Record);
  std::string Line, Text;
  while (std::getline(In, Line)) {
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    if (Line == Path) return;
    Text += Line + "\n";
  }
  WriteTextFile(Record, Text + Path + "\n", -1);
}

}  // namespace

std::string DesktopFolder() { return UserDirsFolder("XDG_DESKTOP_DIR", "Desktop"); }

std::string SendToFolder() {
  const char *X = std::getenv("XDG_DATA_HOME");
  if (X && *X == '/') return std::string(X) + "/applications";
  const char *H = std::getenv("HOME");
  return std::string(H && *H ? H : "/tmp") + "/.local/share/applications";
}

std::string ShortcutRecordFile() { return DataFolder() + "ShortCutFiles.dat"; }

std::string ShortcutPathOf(const TShortcutRequest &Request) {
  return (Request.Desktop ? DesktopFolder() : SendToFolder()) + "/" + Request.Name + ".desktop";
}

std::string NewProfileNameFor(const std::string &Name) {
  std::string File = Name + ".ini";
  for (int k = 1; Exists(SettingsFolder() + File); ++k) File = Name + "[" + std::to_string(k) + "].ini";
  return File;
}

std::string DesktopEntryText(const std::string &Name, const std::string &Program, const std::vector<std::string> &Args,
                             const std::string &Icon) {
  std::string Exec = QuoteExecArgument(Program);
  for (const std::string &A : Args) Exec += " " + QuoteExecArgument(A);
  Exec += " %F";
  const size_t Slash = Program.find_last_of('/');
  std::string Text = "[Desktop Entry]\nType=Application\nVersion=1.0\nName=" + Name + "\nExec=" + Exec + "\n";
  if (Slash != std::string::npos) Text += "Path=" + Program.substr(0, Slash) + "\n";
  if (!Icon.empty()) Text += "Icon=" + Icon + "\n";
  Text += "Terminal=false\nCategories=Graphics;\nMimeType=image/jpeg;image/png;image/bmp;image/tiff;inode/directory;\n";
  return Text;
}

std::vector<std::string> DesktopEntryArguments(const std::string &Path) {
  const std::string Text = ReadAll(Path);
  size_t Pos = 0;
  bool InEntry = false;
  while (Pos < Text.size()) {
    size_t End = Text.find('\n', Pos);
    if (End == std::string::npos) End = Text.size();
    std::string Line = Text.substr(Pos, End - Pos);
    Pos = End + 1;
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    if (!Line.empty() && Line.front() == '[') InEntry = Line == "[Desktop Entry]";
    if (!InEntry || Line.rfind("Exec=", 0) != 0) continue;
    std::vector<std::string> Args = SplitExecLine(Line.substr(5));
    if (!Args.empty()) Args.erase(Args.begin());  // the program
    Args.erase(std::remove_if(Args.begin(), Args.end(),
                              [](const std::string &A) { return A.size() == 2 && A[0] == '%' && A[1] != '%'; }),
               Args.end());
    for (std::string &A : Args) {  // a doubled "%" stands for one
      std::string U;
      for (size_t i = 0; i < A.size(); ++i) {
        U += A[i];
        if (A[i] == '%' && i + 1 < A.size() && A[i + 1] == '%') ++i;
      }
      A = U;
    }
    return Args;
  }
  return {};
}

std::string OverwriteQuestion(const std::string &Path) { return Path + " は既に存在します。\r\n上書きしますか？"; }

TShortcutResult CreateShortcut(const TShortcutRequest &Request, const std::string &Program, const std::string &Icon,
                               const TEffectList &Effects, const std::function<bool(const std::string &)> &Confirm,
                               std::string &Error) {
  if (Request.Name.empty()) return TShortcutResult::Declined;
  if (Request.Name.find('/') != std::string::npos) {
    Error = "a shortcut name cannot hold \"/\": " + Request.Name;
    return TShortcutResult::Failed;
  }
  const std::string Path = ShortcutPathOf(Request);
  if (Exists(Path)) {
    if (!Confirm || !Confirm(OverwriteQuestion(Path))) return TShortcutResult::Declined;
    DeleteProfileOfLauncher(Path);
  }
  std::vector<std::string> Args;
  if (Request.MakeIni) {
    const std::string Profile = NewProfileNameFor(Request.Name);
    const bool AtOnce = FileOption.AtOnce;
    if (Request.AtOnce) FileOption.AtOnce = true;
    const bool Saved = SaveIniFile(SettingsFolder() + Profile, Effects);
    FileOption.AtOnce = AtOnce;
    if (!Saved) {
      Error = "cannot write the profile " + SettingsFolder() + Profile;
      return TShortcutResult::Failed;
    }
    Args.push_back("/ini=" + Profile);
  }
  try {
    WriteTextFile(Path, DesktopEntryText(Request.Name, Program, Args, Icon), 0755);
    RecordShortcut(Path);
  } catch (const std::exception &E) {
    Error = Path + ": " + E.what();
    return TShortcutResult::Failed;
  }
  WindowSettings.ShortCutDesktop = Request.Desktop;
  WindowSettings.ShortCutMakeIni = Request.MakeIni;
  WindowSettings.ShortCutAtOnce = Request.AtOnce;
  return TShortcutResult::Created;
}
