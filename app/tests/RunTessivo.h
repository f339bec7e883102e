// Starting the real tessivo program from a test: its own environment, a
// working folder, standard output and error into files, and the exit status
// collected the way a shell reports it.
#pragma once

#include "testutil/TestEnv.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testrun {

// The program beside the test binaries' bin/ folder.
inline const std::string &TessivoProgram() {
  static const std::string Path = std::string(TESSIVO_BIN_DIR) + "/../tessivo";
  return Path;
}

// A copy of tessivo in Folder whose bin/ folder holds only the named files of
// the real one, for runs without some library or tool; the program's path, or
// "" with the first file the real bin/ folder lacks named in Missing.
inline std::string ProgramCopyWith(const std::string &Folder, const std::vector<std::string> &BinFiles,
                                   std::string &Missing) {
  std::filesystem::create_directories(Folder + "/bin");
  std::filesystem::copy_file(TessivoProgram(), Folder + "/tessivo");
  for (const std::string &Name : BinFiles) {
    const std::string Path = testenv::BinFile(Name);
    if (Path.empty()) {
      Missing = Name;
      return "";
    }
    std::filesystem::copy_file(Path, Folder + "/bin/" + Name);
  }
  return Folder + "/tessivo";
}

inline std::string ReadFile(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
}

// What a finished run left: the status (128 + the signal when one ended it),
// what it wrote on standard output and error, and its peak resident memory.
struct TRun {
  int Status = -1;
  std::string Out;
  std::string Err;
  long MaxRssKiB = -1;
};

// Where a started program reads and writes; OutPath "/dev/null" drops its output.
struct TRunPlace {
  std::vector<std::string> Env;  // the whole environment, "NAME=value"
  std::string WorkDir;
  std::string OutPath = "/dev/null";
  std::string ErrPath;
};

// A place with an environment of its own below Dir: settings in Dir/data,
// XDG data in Dir/xdg, home Dir, working folder Dir/p, standard error into Dir/ErrName.
inline TRunPlace IsolatedPlace(const std::string &Dir, const std::string &ErrName) {
  TRunPlace P;
  P.Env = {"TESSIVOPLUS_DATA=" + Dir + "/data", "XDG_DATA_HOME=" + Dir + "/xdg", "HOME=" + Dir,
           "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
  P.WorkDir = Dir + "/p";
  P.ErrPath = Dir + "/" + ErrName;
  return P;
}

// Starts Program with Args and answers its process id, or -1 when it could not start.
inline pid_t StartProgram(const std::string &Program, std::vector<std::string> Args, const TRunPlace &Place) {
  std::vector<std::string> Env = Place.Env;
  Args.insert(Args.begin(), Program);
  std::vector<char *> Argv, Envp;
  for (auto &a : Args) Argv.push_back(a.data());
  Argv.push_back(nullptr);
  for (auto &e : Env) Envp.push_back(e.data());
  Envp.push_back(nullptr);
  posix_spawn_file_actions_t A;
  posix_spawn_file_actions_init(&A);
  posix_spawn_file_actions_addopen(&A, 1, Place.OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&A, 2, Place.ErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&A, Place.WorkDir.c_str());
  pid_t Pid = -1;
  if (posix_spawn(&Pid, Program.c_str(), &A, nullptr, Argv.data(), Envp.data()) != 0) Pid = -1;
  posix_spawn_file_actions_destroy(&A);
  return Pid;
}

// Starts tessivo with Args and answers its process id, or -1 when it could not start.
inline pid_t StartTessivo(std::vector<std::string> Args, const TRunPlace &Place) {
  return StartProgram(TessivoProgram(), std::move(Args), Place);
}

// Polls Done every 2 ms until it holds (true) or Limit has passed (false):
// for state another process shows, such as a file or a line of its log.
template <class TDone> bool WaitUntil(TDone Done, std::chrono::milliseconds Limit) {
  const auto End = std::chrono::steady_clock::now() + Limit;
  while (!Done()) {
    if (std::chrono::steady_clock::now() > End) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Sends Signals to Pid once Folder holds an output (a file whose name does
// not begin with "." as temporary outputs do), one at a time: a signal sent
// while the same one is still pending merges with it, so each one after the
// first waits until ErrPath shows that the run reported "stopping: ".
// Answers what went wrong, empty when every signal was sent; a program that
// wrote nothing within five minutes is killed.
inline std::string SignalOnceAnOutputExists(pid_t Pid, const std::string &Folder, const std::vector<int> &Signals,
                                            const std::string &ErrPath) {
  const auto HasOutput = [&] {
    std::error_code Ec;
    for (const auto &E : std::filesystem::directory_iterator(Folder, Ec))
      if (E.path().filename().string()[0] != '.') return true;
    return false;
  };
  if (!WaitUntil(HasOutput, std::chrono::minutes(5))) {
    ::kill(Pid, SIGKILL);
    return "no output within 5 minutes";
  }
  std::string Why;
  for (size_t i = 0; i < Signals.size(); ++i) {
    const auto Reported = [&] { return ReadFile(ErrPath).find("stopping: ") != std::string::npos; };
    if (i > 0 && !WaitUntil(Reported, std::chrono::minutes(1)))
      Why = "the run did not report the first signal within a minute";
    ::kill(Pid, Signals[i]);
  }
  return Why;
}

// Waits for a program StartTessivo started and reads what it wrote.
inline TRun WaitTessivo(pid_t Pid, const TRunPlace &Place) {
  TRun R;
  int S = 0;
  struct rusage Usage {};
  if (Pid > 0 && ::wait4(Pid, &S, 0, &Usage) == Pid) {
    R.Status = WIFEXITED(S) ? WEXITSTATUS(S) : 128 + WTERMSIG(S);
    R.MaxRssKiB = Usage.ru_maxrss;
  }
  if (Place.OutPath != "/dev/null") R.Out = ReadFile(Place.OutPath);
  R.Err = ReadFile(Place.ErrPath);
  return R;
}

// Runs a shell command (an outside reference tool) quietly; true when it succeeded.
inline bool Shell(const std::string &Command) { return std::system((Command + " >/dev/null 2>&1").c_str()) == 0; }

// What a shell command prints on standard output.
inline std::string Capture(const std::string &Command) {
  std::string Out;
  if (FILE *F = ::popen(Command.c_str(), "r")) {
    char Buf[4096];
    for (size_t n; (n = std::fread(Buf, 1, sizeof Buf, F)) > 0;) Out.append(Buf, n);
    ::pclose(F);
  }
  return Out;
}

}  // namespace testrun
