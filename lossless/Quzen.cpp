// Publishing the block and running WEMBC for one file.
#include "lossless/Quzen.h"

#include "core/Errors.h"
#include "core/TempFile.h"
#include "effects/Effect.h"
#include "io/SavePicture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

extern char **environ;

namespace fs = std::filesystem;

namespace {

bool SameFile(const std::string &A, const std::string &B) {
  std::error_code ec;
  if (fs::exists(A, ec) && fs::exists(B, ec)) return fs::equivalent(A, B, ec);
  return fs::path(A).lexically_normal() == fs::path(B).lexically_normal();
}

// The tool's lines without its "WEMBC: <input>: " prefix, joined by "; ".
std::string ToolReason(const std::string &Stderr, const std::string &Input) {
  const std::string prefix = "WEMBC: " + Input + ": ";
  std::string out;
  size_t at = 0;
  while (at < Stderr.size()) {
    size_t end = Stderr.find('\n', at);
    if (end == std::string::npos) end = Stderr.size();
    std::string line = Stderr.substr(at, end - at);
    if (line.rfind(prefix, 0) == 0) line.erase(0, prefix.size());
    if (!line.empty()) out += (out.empty() ? "" : "; ") + line;
    at = end + 1;
  }
  return out;
}

}  // namespace

TQuzen::TQuzen(std::string Tool) : FTool(std::move(Tool)) {}

void TQuzen::InitWembParam(const TWembSettings &Settings, const TEffectList &Effects) {
  hFile = std::make_unique<TWembSharedBlock>(WriteWembParam(Settings.Option, Settings.Segments, Effects));
}

int32_t TQuzen::RunTool(const std::string &Input, const std::string &Output, std::string &Messages) const {
  std::vector<std::string> env;
  const std::string key = std::string(WEMB_PARAM_ENV) + "=";
  for (char **e = environ; *e; ++e)
    if (std::string_view(*e).substr(0, key.size()) != key) env.emplace_back(*e);
  env.push_back(key + ParamName());
  std::vector<char *> envp;
  for (std::string &e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args{FTool, "-m", Input, Output};
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, FTool.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  char buf[4096];
  for (ssize_t n; rc == 0 && (n = read(fds[0], buf, sizeof buf)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    Messages.append(buf, size_t(n));
  }
  close(fds[0]);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void TQuzen::Convert(const std::string &InputFile, const std::string &OutputFile) {
  if (!hFile) throw ETessivoError("the lossless-JPEG parameters are not published");
  TReadOnlyGuard guard(OutputFile);
  const bool same = SameFile(InputFile, OutputFile);
  const std::string target = same ? InputFile + ".tmp" : OutputFile;
  std::string messages;
  const int32_t status = RunTool(InputFile, target, messages);
  if (status == -1) throw ETessivoError("WEMBC could not be started (" + FTool + ")");
  std::error_code ec;
  if (status != 0 || !fs::exists(target, ec)) {
    const std::string reason = ToolReason(messages, InputFile);
    throw ETessivoError("WEMBC wrote no output" + (reason.empty() ? std::string() : " (" + reason + ")"));
  }
  if (same) {
    // The converted file takes the source's place through a committed
    // temporary file, so that a failure leaves the source as it was.
    std::ifstream in(target, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    in.close();
    TOutputFile out(InputFile);
    out.Write(bytes);
    out.Commit();
    fs::remove(target, ec);
  }
}
