// The command line of an unattended run: "/ini=" (or "--ini=") with a
// settings file, "/list=" (or "--list=") with a file of input paths, the
// everyday options laid over the profile ("--size", "--quality", "--out",
// "--set Section.Key=Value" ...), the run options ("--dry-run", "--shard",
// "--progress=json" ...) and input files and folders. On Linux an absolute
// path begins with "/", so of the slash switches only "/ini=" and "/list="
// exist; another "/name=" is refused, every other argument is an input path,
// made absolute. "--" ends the options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TMemIniFile;
struct TProfileKey;

// One key the command line sets in the profile, in the order given.
struct TCommandLineSetting {
  std::string Option;   // as given, for messages ("--quality 85")
  std::string Section;
  std::string Key;
  std::string Value;
};

// "--size": a percentage (rule 0), a long side (rule 1) or a box with
// fit (10), cover (11) or exact (8). Rule -1 when not given.
struct TSizeOverride {
  int32_t Rule = -1;
  double Value1 = 0;
  double Value2 = 0;
};

struct TCommandLine {
  bool HasIni = false;
  std::string Ini;        // the value of the last "/ini="
  bool HasList = false;
  std::string ListFile;   // the value of the last "/list=", made absolute
  std::vector<std::string> Paths;  // absolute
  std::vector<TCommandLineSetting> Settings;
  TSizeOverride Size;
  std::string OutFolder;  // "--out", made absolute
  bool HasTemplate = false;
  std::string Template;   // "--template"
  bool PrintProfile = false;
  bool DryRun = false;
  bool ProgressJson = false;
  bool Strict = false;       // "--strict": a file converted with a warning fails the run
  bool ProfileKeys = false;  // "--profile-keys": print the key reference
  int32_t ShardIndex = 0;    // "--shard K/N"
  int32_t ShardCount = 1;
  bool Help = false;      // "--help", "-h" or "/?"
  bool Version = false;   // "--version"
  std::string Error;      // a bad argument; empty when all were understood
};

// Whether Arg is the switch "/Name=" or "--Name=" (any case); Value is then
// what follows, without quotes around it.
bool TakeSwitch(const std::string &Arg, const char *Name, std::string &Value);

// Args without the program name; an option's value may follow it as the
// next argument or after "=". Cwd makes relative paths absolute.
TCommandLine ParseCommandLine(const std::vector<std::string> &Args, const std::string &Cwd);
// Lays the command line's settings over a loaded profile, in order:
// "--set" and the everyday options, then the size, the output folder and the
// template. Keys are the keys the runner knows. Answers an error (unknown
// key, a value out of its range, with the key and the range) or "".
std::string ApplyCommandLineSettings(const TCommandLine &Cmd, TMemIniFile &Ini, const std::vector<TProfileKey> &Keys);

// Path made absolute against Cwd, with "." and ".." components and doubled
// delimiters folded (symbolic links are kept as they are).
std::string AbsolutePath(const std::string &Path, const std::string &Cwd);
// The lines of a "/list=" file (UTF-8 or UTF-16 by byte-order mark, else
// UTF-8), blank lines dropped, made absolute. False, with errno set, when it
// cannot be read (a folder, no permission, no such file).
bool ReadListFile(const std::string &Path, const std::string &Cwd, std::vector<std::string> &Lines);
