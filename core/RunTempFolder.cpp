// The per-run working folder and the deletion of working files.
#include "core/RunTempFolder.h"

#include "core/Errors.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The live folder's path in a fixed buffer, so that a signal handler reads
// it without locks or allocation; GLive says whether it holds one.
constexpr size_t PATH_CAPACITY = 4096;
char GPath[PATH_CAPACITY];
std::atomic<bool> GLive{false};
std::mutex GLock;

// Deeper trees than this are not made by any tool; the limit keeps the
// signal-safe walk's stack bounded.
constexpr int MAX_DEPTH = 16;

// Linux's directory record as getdents64 returns it (the libc readdir would
// allocate, which a signal handler must not).
struct TDirent64 {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

bool IsDotOrDotDot(const char *Name) {
  return Name[0] == '.' && (Name[1] == 0 || (Name[1] == '.' && Name[2] == 0));
}

// Empties the folder open as Fd; only async-signal-safe calls. Entries are
// removed while the folder is read, so it is read again from the start until
// a pass finds nothing left (or removes nothing more).
void EmptyFolderAt(int Fd, int Depth) {
  alignas(8) char Buf[2048];
  for (;;) {
    ::lseek(Fd, 0, SEEK_SET);
    bool Removed = false, Left = false;
    for (;;) {
      const long n = ::syscall(SYS_getdents64, Fd, Buf, sizeof Buf);
      if (n <= 0) break;
      for (long off = 0; off < n;) {
        const auto *e = reinterpret_cast<const TDirent64 *>(Buf + off);
        off += e->d_reclen;
        if (IsDotOrDotDot(e->d_name)) continue;
        Left = true;
        if (::unlinkat(Fd, e->d_name, 0) == 0) {
          Removed = true;
          continue;
        }
        if (errno != EISDIR && errno != EPERM) continue;
        if (Depth < MAX_DEPTH) {
          const int Sub = ::openat(Fd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
          if (Sub >= 0) {
            EmptyFolderAt(Sub, Depth + 1);
            ::close(Sub);
          }
        }
        if (::unlinkat(Fd, e->d_name, AT_REMOVEDIR) == 0) Removed = true;
      }
    }
    if (!Left || !Removed) return;
  }
}

void RemoveTree(const char *Path) {
  const int Fd = ::open(Path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (Fd >= 0) {
    EmptyFolderAt(Fd, 0);
    ::close(Fd);
  }
  ::rmdir(Path);
}

std::string TwoDigits(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v % 100);
  return b;
}

}  // namespace

std::string SystemTempFolder() {
  const char *t = std::getenv("TMPDIR");
  struct stat st;
  if (t && *t == '/' && ::stat(t, &st) == 0 && S_ISDIR(st.st_mode)) {
    std::string r(t);
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    return r;
  }
  return "/tmp";
}

std::string RunTempFolderName(const timespec &Now) {
  tm Local{};
  const time_t Seconds = Now.tv_sec;
  ::localtime_r(&Seconds, &Local);
  char Ms[8];
  std::snprintf(Ms, sizeof Ms, "%03d", int(Now.tv_nsec / 1000000) % 1000);
  return "TessivoPlus-" + TwoDigits(Local.tm_mday) + TwoDigits(Local.tm_hour) + TwoDigits(Local.tm_min) +
         TwoDigits(Local.tm_sec) + Ms;
}

TRunTempFolder::TRunTempFolder(const std::string &Parent) {
  std::lock_guard Lock(GLock);
  if (GLive.load()) throw ETessivoError("作業フォルダは既に作成されています: " + std::string(GPath));
  timespec Now{};
  ::clock_gettime(CLOCK_REALTIME, &Now);
  const std::string Base = (Parent.empty() ? SystemTempFolder() : Parent) + "/" + RunTempFolderName(Now);
  std::string Path = Base;
  for (int k = 1; ::mkdir(Path.c_str(), 0700) != 0; ++k) {
    const int Err = errno;
    if (Err != EEXIST || k > 1000) throw ETessivoError("作業フォルダを作成できません: " + Path, std::strerror(Err));
    Path = Base + "-" + std::to_string(k);
  }
  if (Path.size() >= PATH_CAPACITY) {
    ::rmdir(Path.c_str());
    throw ETessivoError("作業フォルダを作成できません: " + Path, std::strerror(ENAMETOOLONG));
  }
  std::memcpy(GPath, Path.c_str(), Path.size() + 1);
  GLive.store(true);
  FPath = Path;
}

TRunTempFolder::~TRunTempFolder() {
  std::lock_guard Lock(GLock);
  if (!GLive.exchange(false)) return;  // already removed on the way out
  RemoveTree(FPath.c_str());
  GPath[0] = 0;
}

std::string RunTempFolder() {
  std::lock_guard Lock(GLock);
  if (!GLive.load()) throw ETessivoError("作業フォルダがありません");
  return GPath;
}

std::string RunTempPath(const std::string &Name) { return RunTempFolder() + "/" + Name; }

void RemoveRunTempFolderNow() {
  // No lock: the handler may have interrupted the thread holding it, and
  // the process ends right after this.
  if (GLive.exchange(false)) RemoveTree(GPath);
}

bool DeleteWorkFile(const std::string &Path) {
  for (int Attempt = 1;; ++Attempt) {
    if (::unlink(Path.c_str()) == 0 || errno == ENOENT) return true;
    if (Attempt >= 20) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}
