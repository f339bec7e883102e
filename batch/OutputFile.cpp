// File-system steps of the per-file worker: moves, copies, read-only bits,
// output times, the freedesktop.org Trash and folder removal.
#include "batch/OutputFile.h"

#include "core/Errors.h"
#include "core/TempFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double UnixEpochDays = 25569.0;  // 1970-01-01 in days since 1899-12-30

std::string ParentOf(const std::string &Path) {
  const auto p = Path.find_last_of('/');
  if (p == std::string::npos) return ".";
  if (p == 0) return "/";
  return Path.substr(0, p);
}

// The device of Path, or of the nearest folder above it that exists.
bool NearestDevice(std::string Path, dev_t &Dev) {
  for (int i = 0; i < 4096; ++i) {
    struct stat st;
    if (::stat(Path.c_str(), &st) == 0) {
      Dev = st.st_dev;
      return true;
    }
    if (Path == "/" || Path == ".") return false;
    Path = ParentOf(Path);
  }
  return false;
}

bool MakeDirs(const std::string &Path, mode_t Mode) {
  if (Path.empty()) return false;
  if (IsExistingFolder(Path)) return true;
  const std::string Parent = ParentOf(Path);
  if (Parent != Path && !IsExistingFolder(Parent) && !MakeDirs(Parent, Mode)) return false;
  return ::mkdir(Path.c_str(), Mode) == 0 || (errno == EEXIST && IsExistingFolder(Path));
}

std::string HomeDataFolder() {
  if (const char *x = std::getenv("XDG_DATA_HOME"); x && *x == '/') return x;
  const char *home = std::getenv("HOME");
  return std::string(home && *home ? home : "/") + "/.local/share";
}

// Percent-encoding of a path for the Path key of a .trashinfo file.
std::string EncodeTrashPath(const std::string &Path) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string r;
  for (unsigned char c : Path) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        std::strchr("/-_.~!*'()", c)) {
      r += char(c);
    } else {
      r += '%';
      r += Hex[c >> 4];
      r += Hex[c & 15];
    }
  }
  return r;
}

bool WriteAll(int Fd, const char *Data, size_t Size) {
  while (Size > 0) {
    const ssize_t n = ::write(Fd, Data, Size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    Data += n;
    Size -= size_t(n);
  }
  return true;
}

// Trashes Path into TrashDir (which has or gets files/ and info/); InfoPath
// is the path recorded for restoring it.
bool TrashInto(const std::string &Path, const std::string &TrashDir, const std::string &InfoPath) {
  const std::string Files = TrashDir + "/files", Info = TrashDir + "/info";
  if (!MakeDirs(Files, 0700) || !MakeDirs(Info, 0700)) return false;
  const std::string Name = ExtractFileName(Path);
  char Date[32];
  const time_t now = ::time(nullptr);
  struct tm lt;
  ::localtime_r(&now, &lt);
  std::strftime(Date, sizeof Date, "%Y-%m-%dT%H:%M:%S", &lt);
  const std::string Text = "[Trash Info]\nPath=" + EncodeTrashPath(InfoPath) + "\nDeletionDate=" + Date + "\n";
  for (int k = 1; k < 10000; ++k) {
    const std::string Base = k == 1 ? Name : Name + "." + std::to_string(k);
    const std::string InfoFile = Info + "/" + Base + ".trashinfo";
    // The info file claims the name: whoever creates it first owns it.
    const int fd = ::open(InfoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    const bool ok = WriteAll(fd, Text.data(), Text.size());
    ::close(fd);
    const std::string Target = Files + "/" + Base;
    if (ok && RenameNoReplace(Path, Target)) return true;
    const bool taken = ok && errno == EEXIST;
    ::unlink(InfoFile.c_str());
    if (taken) continue;
    return false;
  }
  return false;
}

int RemoveEntry(const char *Path, const struct stat *, int Flag, struct FTW *) {
  const int r = Flag == FTW_DP ? ::rmdir(Path) : ::unlink(Path);
  return r == 0 ? 0 : 1;
}

}  // namespace

bool IsExistingFile(const std::string &Path) {
  struct stat st;
  return ::lstat(Path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsExistingFolder(const std::string &Path) {
  struct stat st;
  return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ExtractFileDir(const std::string &Path) {
  const auto p = Path.find_last_of('/');
  if (p == std::string::npos) return std::string();
  return p == 0 ? std::string("/") : Path.substr(0, p);
}

std::string ExtractFileName(const std::string &Path) {
  const auto p = Path.find_last_of('/');
  return p == std::string::npos ? Path : Path.substr(p + 1);
}

bool SameFileSystem(const std::string &Source, const std::string &Target) {
  struct stat st;
  if (::stat(Source.c_str(), &st) != 0) return false;
  dev_t Dev;
  return NearestDevice(ParentOf(Target), Dev) && Dev == st.st_dev;
}

bool MoveFileTo(const std::string &Source, const std::string &Target) { return RenameNoReplace(Source, Target); }

bool CopyFileTo(const std::string &Source, const std::string &Target, bool FailIfExists) {
  if (FailIfExists && ::access(Target.c_str(), F_OK) == 0) {
    errno = EEXIST;
    return false;
  }
  const int in = ::open(Source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  // The reason of the first failing call; closing and removing the
  // temporary file afterwards must not overwrite it.
  int Err = 0;
  struct stat st;
  if (::fstat(in, &st) != 0) {
    Err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    Err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  } else {
    // Like a copy on the desktop, the copy keeps the source's permissions and
    // modification time. With FailIfExists the commit never replaces a file,
    // not even one made after the check above.
    TCommitRule Exclusive{.Exclusive = true};
    try {
      TOutputFile out(Target, {.Rule = FailIfExists ? &Exclusive : nullptr,
                               .MakeFolder = false,
                               .Mode = int32_t(st.st_mode & 07777)});
      std::vector<char> Buf(1 << 20);
      for (;;) {
        const ssize_t n = ::read(in, Buf.data(), Buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Err = errno;
        if (n <= 0) break;
        out.Write({reinterpret_cast<const uint8_t *>(Buf.data()), size_t(n)});
      }
      const struct timespec Times[2] = {st.st_atim, st.st_mtim};
      ::futimens(out.Fd(), Times);
      if (Err == 0) out.Commit();
    } catch (const EOutputFileError &E) {
      Err = E.SystemError;
    } catch (const ETessivoError &) {
      Err = EIO;
    }
  }
  ::close(in);
  errno = Err;
  return Err == 0;
}

bool IsReadOnlyFile(const std::string &Path) {
  struct stat st;
  return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

int64_t LocalDateTimeToUnix(double DateTime) {
  const double LocalSeconds = std::floor((DateTime - UnixEpochDays) * 86400.0 + 0.5);
  const time_t lt = time_t(LocalSeconds);
  struct tm t;
  ::gmtime_r(&lt, &t);  // the local wall-clock fields
  t.tm_isdst = -1;
  return int64_t(::mktime(&t));
}

double TruncateToTwoSeconds(double DateTime) {
  const double Seconds = std::floor((DateTime - UnixEpochDays) * 86400.0 + 1e-6);
  return UnixEpochDays + (Seconds - std::fmod(Seconds, 2.0)) / 86400.0;
}

bool SetOutputTimes(const std::string &Path, const TOutputTimes &Times) {
  if (!IsExistingFile(Path)) return false;
  double Stamp = 0;
  if (Times.UpdateTimestampFromExif && Times.DateTimeOriginal != 0) {
    Stamp = Times.DateTimeOriginal;
  } else if (Times.KeepLastWriteTime) {
    Stamp = TruncateToTwoSeconds(Times.DateTimeLastWrite);
  }
  // KeepCreationTime: Linux has no call that sets a birth time.
  if (Stamp == 0) return true;
  struct timespec ts[2];
  ts[0].tv_sec = 0;
  ts[0].tv_nsec = UTIME_OMIT;
  ts[1].tv_sec = time_t(LocalDateTimeToUnix(Stamp));
  ts[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, Path.c_str(), ts, 0) == 0;
}

bool MoveToTrash(const std::string &Path) {
  if (Path.empty() || Path.front() != '/') return false;
  struct stat st;
  if (::lstat(Path.c_str(), &st) != 0) return false;
  const std::string HomeTrash = HomeDataFolder() + "/Trash";
  dev_t HomeDev;
  if (NearestDevice(HomeTrash, HomeDev) && HomeDev == st.st_dev) return TrashInto(Path, HomeTrash, Path);
  // Another file system: the per-user Trash at the top of its mount.
  std::string Top = ParentOf(Path);
  for (;;) {
    const std::string Up = ParentOf(Top);
    struct stat ust;
    if (Up == Top || ::stat(Up.c_str(), &ust) != 0 || ust.st_dev != st.st_dev) break;
    Top = Up;
  }
  const std::string TopTrash = (Top == "/" ? std::string() : Top) + "/.Trash-" + std::to_string(::getuid());
  std::string Rel = Path.substr(Top == "/" ? 1 : Top.size() + 1);
  return TrashInto(Path, TopTrash, Rel);
}

bool DeleteSourceFile(const std::string &Path, bool AllowUndo) {
  if (AllowUndo) return IsExistingFile(Path) && MoveToTrash(Path);
  return ::unlink(Path.c_str()) == 0;
}

bool DeleteFolderTree(const std::string &Path) {
  if (Path.empty() || Path.front() != '/') return false;
  std::string p = Path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p == "/" || !IsExistingFolder(p)) return false;
  return ::nftw(p.c_str(), RemoveEntry, 32, FTW_DEPTH | FTW_PHYS) == 0;
}
