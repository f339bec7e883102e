// The command run after a clean batch and the folder deletion that may
// follow it. The command template is split into arguments first and the
// folder tokens are substituted inside each argument, so a path with blanks
// or quotes stays one argument; nothing passes through a shell.
#pragma once

#include "core/ChildProcess.h"  // SplitCommandLine

#include <cstdint>
#include <string>
#include <vector>

// What the command of one converted entry is built from.
struct TExternalToolEntry {
  std::string SourcePath;   // the source file, or the archive file of a member
  bool IsArchive = false;
  std::string OutPutFileName;
};

// Replaces every occurrence of Token (compared without ASCII case).
std::string ReplaceTokenNoCase(const std::string &Text, const std::string &Token, const std::string &Value);

// The distinct argument vectors of a run, in sorted order: "<DIR>" becomes
// OutputDirectory without its trailing delimiter, then per entry "<outdir>"
// the output's folder, "<arcdir>" the source's folder and "<arcname>" the
// archive name without extension (or "NotArchive").
std::vector<std::vector<std::string>> BuildExternalCommands(const std::string &Command,
                                                            const std::string &OutputDirectory,
                                                            const std::vector<TExternalToolEntry> &Entries);
// The distinct folders named by DeleteFileName with the same substitutions.
std::vector<std::string> BuildDeleteFolders(const std::string &DeleteFileName, const std::string &OutputDirectory,
                                            const std::vector<TExternalToolEntry> &Entries);

// Starts Args (the program is looked up in PATH when it has no "/") with
// standard input from /dev/null at the nice value of ProcessPriority and
// waits for it. Returns the exit status, or -1 when it could not be started.
int32_t RunExternalCommand(const std::vector<std::string> &Args, int32_t ProcessPriority);

// The external-command step as a whole: every command in order, then, with
// DeleteFolders, every listed folder that exists is removed with its contents.
void RunExternalTool(const std::string &Command, const std::string &OutputDirectory, bool DeleteFolders,
                     const std::string &DeleteFileName, const std::vector<TExternalToolEntry> &Entries,
                     int32_t ProcessPriority);
