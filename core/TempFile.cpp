// Temporary output files: written beside the target, committed by rename
// or, where a name must not be replaced, by a no-replace rename or a link.
#include "core/TempFile.h"

#include "core/Errors.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The process umask, read without changing it (umask() itself would race
// with other threads creating files).
mode_t ProcessUmask() {
  static const mode_t Mask = [] {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("Umask:", 0) == 0) return mode_t(std::strtoul(line.c_str() + 6, nullptr, 8));
    return mode_t(022);
  }();
  return Mask;
}

std::string SystemMessage(int Err) { return std::strerror(Err); }

[[noreturn]] void Fail(const std::string &Message, int Err) {
  throw EOutputFileError(Message + ": " + SystemMessage(Err), Err);
}

// The temporary outputs alive in the process, for abandoning a run.
std::mutex LiveLock;
std::set<std::string> LiveTemporaries;
bool Abandoned = false;

const char *const ABANDONED_MSG = "中止されました";

}  // namespace

bool RenameNoReplace(const std::string &From, const std::string &To) {
  if (::renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A hard link fails on an existing name just the same.
  if (::link(From.c_str(), To.c_str()) == 0) {
    ::unlink(From.c_str());
    return true;
  }
  if (errno != EPERM && errno != EOPNOTSUPP) return false;
  // A file system without either: a check, then a plain rename.
  struct stat st;
  if (::lstat(To.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(From.c_str(), To.c_str()) == 0;
}

TOutputFile::TOutputFile(const std::string &Target, TCommitRule *Rule)
    : TOutputFile(Target, TOutputFileOptions{.Rule = Rule}) {}

TOutputFile::TOutputFile(const std::string &Target, const TOutputFileOptions &Options)
    : FTarget(Target), FRule(Options.Rule), FMode(Options.Mode), FSync(Options.Sync) {
  namespace fs = std::filesystem;
  const fs::path target(Target);
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  if (Options.MakeFolder && !fs::is_directory(folder, ec)) {
    fs::create_directories(folder, ec);
    if (ec) Fail("出力フォルダを作成できません: " + folder.string(), ec.value());
  }
  const std::string ext = target.extension().string();
  // A long name is shortened (at a character boundary) so that the temporary
  // name stays within the file system's limit whenever the target's does.
  std::string stem = target.stem().string();
  if (stem.size() > 120) {
    size_t cut = 120;
    while (cut > 0 && (uint8_t(stem[cut]) & 0xC0) == 0x80) --cut;
    stem.resize(cut);
  }
  std::string leaf = ".";
  leaf += stem;
  leaf += ".XXXXXX";
  std::string name = (folder / leaf).string();
  name += ext;
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  std::lock_guard lock(LiveLock);
  if (Abandoned) throw EOutputFileError(ABANDONED_MSG, ECANCELED);
  FFd = mkostemps(buf.data(), int(ext.size()), O_CLOEXEC);
  if (FFd < 0) Fail("一時ファイルを作成できません: " + name, errno);
  FTempPath.assign(buf.data());
  LiveTemporaries.insert(FTempPath);
}

TOutputFile::~TOutputFile() {
  if (FFd >= 0) ::close(FFd);
  if (FTempPath.empty()) return;
  std::lock_guard lock(LiveLock);
  if (!FCommitted) ::unlink(FTempPath.c_str());
  LiveTemporaries.erase(FTempPath);
}

bool IsOutputTemporaryName(const std::string &FileName) {
  // "." + stem + "." + six characters of mkstemp + the extension (maybe none).
  if (FileName.size() < 9 || FileName[0] != '.') return false;
  if (FileName.rfind(".tessivo-", 0) == 0) return true;  // the copies of rename mode and archive members
  const size_t dot = FileName.find_last_of('.');
  for (const size_t end : {dot, FileName.size()}) {
    if (end < 8 || end > FileName.size()) continue;
    const size_t start = end - 6;
    if (FileName[start - 1] != '.' || start - 1 == 0) continue;
    bool random = true;
    for (size_t i = start; i < end; ++i) random = random && std::isalnum(static_cast<unsigned char>(FileName[i]));
    if (random) return true;
  }
  return false;
}

int32_t AbandonTemporaryOutputs() {
  std::lock_guard lock(LiveLock);
  Abandoned = true;
  int32_t removed = 0;
  for (const std::string &path : LiveTemporaries) removed += ::unlink(path.c_str()) == 0 ? 1 : 0;
  LiveTemporaries.clear();
  return removed;
}

void TOutputFile::Write(std::span<const uint8_t> Data) {
  const uint8_t *p = Data.data();
  size_t left = Data.size();
  while (left) {
    const ssize_t n = ::write(FFd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("ファイルの書き込みに失敗しました: " + FTarget, n < 0 ? errno : EIO);
    p += n;
    left -= size_t(n);
  }
}

void TOutputFile::Close() {
  if (FFd >= 0) {
    const int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0 && errno != EINTR) Fail("ファイルの書き込みに失敗しました: " + FTarget, errno);
  }
}

void TOutputFile::Commit() {
  const bool exclusive = FRule && FRule->Exclusive;
  // Unless told otherwise, an existing output keeps its permissions and a
  // new one gets the usual 0666 & ~umask.
  struct stat st;
  const mode_t mode = FMode >= 0 ? mode_t(FMode & 07777)
                      : !exclusive && ::stat(FTarget.c_str(), &st) == 0 ? (st.st_mode & 07777)
                                                                         : (0666 & ~ProcessUmask());
  if (FSync) SyncToDisk();
  Close();
  ::chmod(FTempPath.c_str(), mode);
  std::string target = FTarget;
  std::lock_guard lock(LiveLock);
  if (Abandoned) throw EOutputFileError(ABANDONED_MSG, ECANCELED);
  if (!exclusive) {
    if (::rename(FTempPath.c_str(), target.c_str()) != 0) Fail("ファイルを置き換えられません: " + target, errno);
  } else {
    for (int64_t k = 1; !RenameNoReplace(FTempPath, target); ++k) {
      const int err = errno;
      const std::string next = err == EEXIST && FRule->NextName ? FRule->NextName(k) : std::string();
      if (next.empty()) Fail("ファイルを置き換えられません: " + target, err);
      target = next;
    }
  }
  FCommitted = true;
  LiveTemporaries.erase(FTempPath);
  if (FRule) FRule->Committed = target;
}

void TOutputFile::SyncToDisk() {
  // A writer that closed the descriptor itself gets the file opened again.
  const int fd = FFd >= 0 ? FFd : ::open(FTempPath.c_str(), O_RDONLY | O_CLOEXEC);
  const bool ok = fd >= 0 && ::fsync(fd) == 0;
  const int err = errno;
  if (fd >= 0 && fd != FFd) ::close(fd);
  if (!ok) Fail("ファイルの書き込みに失敗しました: " + FTarget, err);
}
