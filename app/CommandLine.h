// The command line of an unattended run: "/ini=" (or "--ini=") with a
// settings file, "/list=" (or "--list=") with a file of input paths, and
// input files and folders. On Linux an absolute path begins with "/", so
// only those two switches are recognised (by their beginning, without
// case); every other argument is an input path, made absolute.
#pragma once

#include <string>
#include <vector>

struct TCommandLine {
  bool HasIni = false;
  std::string Ini;        // the value of the last "/ini="
  bool HasList = false;
  std::string ListFile;   // the value of the last "/list=", made absolute
  std::vector<std::string> Paths;  // absolute
  bool Help = false;      // "--help", "-h" or "/?"
  bool Version = false;   // "--version"
  std::string Error;      // a bad argument; empty when all were understood
};

// Args without the program name; Cwd makes relative paths absolute.
TCommandLine ParseCommandLine(const std::vector<std::string> &Args, const std::string &Cwd);
// Path made absolute against Cwd, with "." and ".." components and doubled
// delimiters folded (symbolic links are kept as they are).
std::string AbsolutePath(const std::string &Path, const std::string &Cwd);
// The lines of a "/list=" file (UTF-8 or UTF-16 by byte-order mark, else
// UTF-8), blank lines dropped, made absolute. False, with errno set, when it
// cannot be read (a folder, no permission, no such file).
bool ReadListFile(const std::string &Path, const std::string &Cwd, std::vector<std::string> &Lines);
