// Asking an outside program (ImageMagick, exiftool, ...) from a test: its
// standard output for a command line, and whether ImageMagick is there.
#pragma once

#include <cstdio>
#include <string>

namespace testenv {

// What Command writes on standard output (standard error dropped); empty
// when it cannot be started or fails.
inline std::string Capture(const std::string &Command) {
  std::string Out;
  if (FILE *P = ::popen((Command + " 2>/dev/null").c_str(), "r")) {
    char Buf[4096];
    size_t n;
    while ((n = std::fread(Buf, 1, sizeof Buf, P)) > 0) Out.append(Buf, n);
    if (::pclose(P) != 0) Out.clear();
  }
  return Out;
}

// A path as one shell word (paths made by the tests hold no quote).
inline std::string ShellQuoted(const std::string &Path) { return "'" + Path + "'"; }

inline bool HaveImageMagick() {
  return !Capture("convert -version").empty() && !Capture("identify -version").empty();
}

}  // namespace testenv
