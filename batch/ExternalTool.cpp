// The post-run command and folder deletion.
#include "batch/ExternalTool.h"

#include "batch/ConvertOption.h"
#include "batch/OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string ArchiveNameOf(const TExternalToolEntry &E) {
  if (!E.IsArchive) return "NotArchive";
  std::string n = ExtractFileName(E.SourcePath);
  const auto dot = n.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? n : n.substr(0, dot);
}

std::string SubstituteEntry(const std::string &Text, const TExternalToolEntry &E) {
  std::string r = ReplaceTokenNoCase(Text, "<outdir>", ExtractFileDir(E.OutPutFileName));
  r = ReplaceTokenNoCase(r, "<arcdir>", ExtractFileDir(E.SourcePath));
  return ReplaceTokenNoCase(r, "<arcname>", ArchiveNameOf(E));
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string &Line) {
  std::vector<std::string> Args;
  std::string Cur;
  bool InArg = false, Quoted = false;
  for (size_t i = 0; i < Line.size(); ++i) {
    const char c = Line[i];
    if (c == '\\' && i + 1 < Line.size() && Line[i + 1] == '"') {
      Cur += '"';
      InArg = true;
      ++i;
    } else if (c == '"') {
      Quoted = !Quoted;
      InArg = true;
    } else if ((c == ' ' || c == '\t') && !Quoted) {
      if (InArg) Args.push_back(Cur);
      Cur.clear();
      InArg = false;
    } else {
      Cur += c;
      InArg = true;
    }
  }
  if (InArg) Args.push_back(Cur);
  return Args;
}

std::string ReplaceTokenNoCase(const std::string &Text, const std::string &Token, const std::string &Value) {
  if (Token.empty()) return Text;
  std::string Lower(Text.size(), '\0'), LowerToken(Token.size(), '\0');
  std::transform(Text.begin(), Text.end(), Lower.begin(), LowerAscii);
  std::transform(Token.begin(), Token.end(), LowerToken.begin(), LowerAscii);
  std::string r;
  size_t pos = 0;
  for (;;) {
    const size_t f = Lower.find(LowerToken, pos);
    if (f == std::string::npos) break;
    r.append(Text, pos, f - pos);
    r += Value;
    pos = f + Token.size();
  }
  r.append(Text, pos, std::string::npos);
  return r;
}

std::vector<std::vector<std::string>> BuildExternalCommands(const std::string &Command,
                                                            const std::string &OutputDirectory,
                                                            const std::vector<TExternalToolEntry> &Entries) {
  std::vector<std::string> Template = SplitCommandLine(Command);
  for (auto &a : Template) a = ReplaceTokenNoCase(a, "<DIR>", ExcludeTrailingDelimiter(OutputDirectory));
  std::set<std::vector<std::string>> Lines;
  for (const auto &E : Entries) {
    if (E.OutPutFileName.empty()) continue;
    std::vector<std::string> Args;
    for (const auto &a : Template) Args.push_back(SubstituteEntry(a, E));
    if (!Args.empty()) Lines.insert(Args);
  }
  return {Lines.begin(), Lines.end()};
}

std::vector<std::string> BuildDeleteFolders(const std::string &DeleteFileName, const std::string &OutputDirectory,
                                            const std::vector<TExternalToolEntry> &Entries) {
  const std::string K = ReplaceTokenNoCase(NormalizeStoredPath(DeleteFileName), "<DIR>",
                                           ExcludeTrailingDelimiter(OutputDirectory));
  std::set<std::string> Folders;
  for (const auto &E : Entries) {
    if (E.OutPutFileName.empty()) continue;
    Folders.insert(ExcludeTrailingDelimiter(SubstituteEntry(K, E)));
  }
  return {Folders.begin(), Folders.end()};
}

int32_t RunExternalCommand(const std::vector<std::string> &Args, int32_t ProcessPriority) {
  if (Args.empty() || Args[0].empty()) return -1;
  std::vector<char *> Argv;
  for (const auto &a : Args) Argv.push_back(const_cast<char *>(a.c_str()));
  Argv.push_back(nullptr);
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addopen(&Actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t Attr;
  posix_spawnattr_init(&Attr);
  // The child gets the default signal handling back (the runner catches Ctrl+C itself).
  sigset_t Def;
  sigemptyset(&Def);
  sigaddset(&Def, SIGINT);
  sigaddset(&Def, SIGTERM);
  sigaddset(&Def, SIGPIPE);
  posix_spawnattr_setsigdefault(&Attr, &Def);
  posix_spawnattr_setflags(&Attr, POSIX_SPAWN_SETSIGDEF);
  pid_t Pid = 0;
  const int r = Args[0].find('/') == std::string::npos
                    ? posix_spawnp(&Pid, Args[0].c_str(), &Actions, &Attr, Argv.data(), environ)
                    : posix_spawn(&Pid, Args[0].c_str(), &Actions, &Attr, Argv.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  posix_spawnattr_destroy(&Attr);
  if (r != 0) return -1;
  // A higher priority than our own needs the permission; without it the child
  // keeps ours.
  const int Nice = NiceValueOf(PriorityClassOf(ProcessPriority));
  errno = 0;
  const int Own = ::getpriority(PRIO_PROCESS, 0);
  if (errno == 0 && Nice != Own) ::setpriority(PRIO_PROCESS, Pid, Nice);
  int Status = 0;
  while (::waitpid(Pid, &Status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + (WIFSIGNALED(Status) ? WTERMSIG(Status) : 0);
}

void RunExternalTool(const std::string &Command, const std::string &OutputDirectory, bool DeleteFolders,
                     const std::string &DeleteFileName, const std::vector<TExternalToolEntry> &Entries,
                     int32_t ProcessPriority) {
  for (const auto &Args : BuildExternalCommands(Command, OutputDirectory, Entries))
    RunExternalCommand(Args, ProcessPriority);  // a command that cannot start is skipped
  if (DeleteFolders && !DeleteFileName.empty()) {
    for (const auto &Folder : BuildDeleteFolders(DeleteFileName, OutputDirectory, Entries))
      if (IsExistingFolder(Folder)) DeleteFolderTree(Folder);
  }
}
