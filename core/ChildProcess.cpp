// Helper programs as child processes.
#include "core/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

TPriorityClass PriorityClassOf(int32_t ProcessPriority) {
  switch (ProcessPriority) {
    case 0: return TPriorityClass::Idle;
    case 1: return TPriorityClass::BelowNormal;
    case 3: return TPriorityClass::AboveNormal;
    case 4: return TPriorityClass::High;
    default: return TPriorityClass::Normal;
  }
}

int32_t NiceValueOf(TPriorityClass Class) {
  switch (Class) {
    case TPriorityClass::Idle: return 19;
    case TPriorityClass::BelowNormal: return 10;
    case TPriorityClass::AboveNormal: return -5;
    case TPriorityClass::High: return -10;
    case TPriorityClass::Normal: break;
  }
  return 0;
}

int32_t RunChildProcess(const std::vector<std::string> &Args, int32_t Nice, const std::string &ErrorFile) {
  if (Args.empty() || Args[0].empty()) return -1;
  std::vector<char *> Argv;
  for (const auto &a : Args) Argv.push_back(const_cast<char *>(a.c_str()));
  Argv.push_back(nullptr);
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addopen(&Actions, 0, "/dev/null", O_RDONLY, 0);
  if (!ErrorFile.empty())
    posix_spawn_file_actions_addopen(&Actions, 2, ErrorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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
  errno = 0;
  const int Own = ::getpriority(PRIO_PROCESS, 0);
  if (errno == 0 && Nice != Own) ::setpriority(PRIO_PROCESS, Pid, Nice);
  int Status = 0;
  while (::waitpid(Pid, &Status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + (WIFSIGNALED(Status) ? WTERMSIG(Status) : 0);
}

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
