// Where the running program lives. An installation keeps its run-time
// libraries and helper tools in a "bin" folder beside the program, so every
// lookup of libpixio.so, libresize.so, pngout or the plug-in folder starts here.
#pragma once

#include <string>

// The folder holding the running program, without a trailing "/"; "." when
// the kernel cannot say (no /proc).
std::string ProgramFolder();

// ProgramFolder() + "/bin".
std::string ProgramBinFolder();
