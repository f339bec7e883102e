// axarchive.spi: the archive plug-in ("00AM") over libarchive. Reads zip,
// 7z, rar (4 and 5), tar (plain, gzip, bzip2, xz) and the comic-book names
// of the same containers (cbz, cb7, cbr, cbt).
//
// Only regular files are listed: folders, symbolic and hard links and device
// entries have no bytes of their own to convert, and a link would point the
// reader outside the archive. Member paths are normalised before they are
// handed out ("\" is a separator, and "", "." and ".." components and a
// leading "/" are dropped), so no member name can climb out of the folder
// the host writes into. A member's position is its index among all entries
// of the archive; the host asks for members mostly in order, so readers are
// kept open between calls and move forward instead of starting over. Zip
// members are read straight from the file where they can be
// (plugins/axarchive/ZipDirect.h), with libarchive standing at the member
// to say which one it is.
#include "io/SusieABI.h"
#include "plugins/PluginInfo.h"
#include "plugins/axarchive/ZipDirect.h"

#include <archive.h>
#include <archive_entry.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

const char *const Info[] = {
    SPI_VERSION_ARCHIVE,
    "axarchive.spi 1.0 (libarchive): zip, 7z, rar, tar and comic-book archives",
    "*.zip;*.cbz",
    "ZIP archives",
    "*.7z;*.cb7",
    "7-Zip archives",
    "*.rar;*.cbr",
    "RAR archives",
    "*.tar;*.cbt;*.tgz;*.gz;*.tbz;*.tbz2;*.bz2;*.txz;*.xz",
    "tar archives (plain, gzip, bzip2, xz)",
};

// The identity of a file between calls: the same name may be another file
// later (a descriptor path, a file replaced in place).
struct TIdentity {
  dev_t Dev = 0;
  ino_t Ino = 0;
  off_t Size = 0;
  timespec MTime{};
  bool operator==(const TIdentity &O) const {
    return Dev == O.Dev && Ino == O.Ino && Size == O.Size && MTime.tv_sec == O.MTime.tv_sec &&
           MTime.tv_nsec == O.MTime.tv_nsec;
  }
};

bool IdentityOf(const struct stat &St, TIdentity &Id) {
  if (!S_ISREG(St.st_mode)) return false;
  Id.Dev = St.st_dev;
  Id.Ino = St.st_ino;
  Id.Size = St.st_size;
  Id.MTime = St.st_mtim;
  return true;
}

bool IdentityOf(const char *Path, TIdentity &Id) {
  struct stat st {};
  return ::stat(Path, &st) == 0 && IdentityOf(st, Id);
}

struct TArchiveFree {
  void operator()(archive *A) const { archive_read_free(A); }
};
using TArchivePtr = std::unique_ptr<archive, TArchiveFree>;

TArchivePtr OpenArchive(const char *Path) {
  TArchivePtr a(archive_read_new());
  if (!a) return nullptr;
  archive_read_support_filter_all(a.get());
  archive_read_support_format_zip(a.get());
  archive_read_support_format_7zip(a.get());
  archive_read_support_format_rar(a.get());
  archive_read_support_format_rar5(a.get());
  archive_read_support_format_tar(a.get());
  if (archive_read_open_filename(a.get(), Path, 1 << 16) != ARCHIVE_OK) return nullptr;
  return a;
}

// An open archive with the index of the entry its next header read gives.
struct TReader {
  std::string Path;
  TIdentity Id;
  TArchivePtr A;
  uint32_t Next = 0;
  archive_entry *Entry = nullptr;  // the entry at Next - 1, valid until the next read
};

// Readers left open for the next call; one call takes a reader out, so
// calls on several threads never share one.
class TReaderPool {
public:
  std::unique_ptr<TReader> Take(const char *Path, uint32_t Index) {
    TIdentity id;
    if (!IdentityOf(Path, id)) return nullptr;
    {
      std::lock_guard lock(FLock);
      auto best = FIdle.end();
      for (auto it = FIdle.begin(); it != FIdle.end(); ++it)
        if ((*it)->Path == Path && (*it)->Id == id && (*it)->Next <= Index &&
            (best == FIdle.end() || (*it)->Next > (*best)->Next))
          best = it;
      if (best != FIdle.end()) {
        std::unique_ptr<TReader> r = std::move(*best);
        FIdle.erase(best);
        return r;
      }
    }
    auto r = std::make_unique<TReader>();
    r->Path = Path;
    r->Id = id;
    r->A = OpenArchive(Path);
    if (!r->A) return nullptr;
    return r;
  }
  void GiveBack(std::unique_ptr<TReader> R) {
    std::lock_guard lock(FLock);
    FIdle.push_back(std::move(R));
    if (FIdle.size() > 4) FIdle.erase(FIdle.begin());
  }

private:
  std::mutex FLock;
  std::vector<std::unique_ptr<TReader>> FIdle;
};

TReaderPool &Pool() {
  static TReaderPool pool;
  return pool;
}

// Zip central directories read for direct member reads, by file; a file
// whose directory this reader cannot use keeps an empty one.
class TZipDirectories {
public:
  using TRecords = std::shared_ptr<const std::vector<TZipRecord>>;
  TRecords Get(const std::string &Path, const TIdentity &Id, int Fd) {
    {
      std::lock_guard lock(FLock);
      for (const TKnown &k : FKnown)
        if (k.Path == Path && k.Id == Id) return k.Records;
    }
    auto records = std::make_shared<std::vector<TZipRecord>>();
    if (!ReadZipDirectory(Fd, uint64_t(Id.Size), *records)) records->clear();
    std::lock_guard lock(FLock);
    FKnown.push_back({Path, Id, records});
    if (FKnown.size() > 4) FKnown.erase(FKnown.begin());
    return records;
  }

private:
  struct TKnown {
    std::string Path;
    TIdentity Id;
    TRecords Records;
  };
  std::mutex FLock;
  std::vector<TKnown> FKnown;
};

TZipDirectories &ZipDirectories() {
  static TZipDirectories directories;
  return directories;
}

// Read(Fd, FileSize, Record) on the central-directory record of the zip
// member R stands at, opened straight from the file; false when there is no
// such record (not a zip, or the record cannot be pinned down) or Read
// declines, and then libarchive reads the member.
template <class TRead>
bool ReadZipMemberDirect(const TReader &R, TRead &&Read) {
  if ((archive_format(R.A.get()) & ARCHIVE_FORMAT_BASE_MASK) != ARCHIVE_FORMAT_ZIP) return false;
  if (archive_entry_is_encrypted(R.Entry) || !archive_entry_size_is_set(R.Entry)) return false;
  const char *name = archive_entry_pathname(R.Entry);
  if (!name) return false;
  const int fd = ::open(R.Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool done = false;
  struct stat st {};
  TIdentity id;
  // The file must still be the one libarchive opened.
  if (::fstat(fd, &st) == 0 && IdentityOf(st, id) && id == R.Id) {
    const TZipDirectories::TRecords records = ZipDirectories().Get(R.Path, id, fd);
    if (const TZipRecord *record = FindZipRecord(*records, name, uint64_t(archive_entry_size(R.Entry))))
      done = Read(fd, uint64_t(id.Size), *record);
  }
  ::close(fd);
  return done;
}

// Reads headers until the one at Index; ARCHIVE_OK, ARCHIVE_EOF or an error.
int SeekEntry(TReader &R, uint32_t Index) {
  while (R.Next <= Index) {
    const int r = archive_read_next_header(R.A.get(), &R.Entry);
    if (r == ARCHIVE_EOF) return ARCHIVE_EOF;
    if (r < ARCHIVE_WARN) return r;
    ++R.Next;
  }
  return ARCHIVE_OK;
}

// A member path split into a safe folder (with a trailing '/', or empty)
// and name; false when nothing of a name is left.
bool SafeMemberPath(const char *Raw, std::string &Folder, std::string &Name) {
  std::vector<std::string> parts;
  std::string part;
  for (const char *p = Raw;; ++p) {
    if (*p == '/' || *p == '\\' || *p == 0) {
      if (!part.empty() && part != "." && part != "..") parts.push_back(part);
      part.clear();
      if (*p == 0) break;
    } else {
      part += *p;
    }
  }
  if (parts.empty()) return false;
  Name = parts.back();
  parts.pop_back();
  Folder.clear();
  for (const std::string &f : parts) Folder += f + "/";
  return true;
}

const char *MethodOf(archive *A) {
  switch (archive_format(A) & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_ZIP: return "zip";
    case ARCHIVE_FORMAT_7ZIP: return "7z";
    case ARCHIVE_FORMAT_RAR: return "rar";
    case ARCHIVE_FORMAT_RAR_V5: return "rar5";
    case ARCHIVE_FORMAT_TAR: return "tar";
    default: return "data";
  }
}

// The table entry of the header just read; false for what is not listed.
bool DescribeEntry(archive *A, archive_entry *E, uint32_t Index, SusieFileInfo &F) {
  if (archive_entry_filetype(E) != AE_IFREG || archive_entry_hardlink(E)) return false;
  if (!archive_entry_size_is_set(E)) return false;
  const la_int64_t size = archive_entry_size(E);
  if (size < 0 || size > la_int64_t(std::numeric_limits<uint32_t>::max())) return false;
  const char *raw = archive_entry_pathname_utf8(E);
  if (!raw) raw = archive_entry_pathname(E);
  std::string folder, name;
  if (!raw || !SafeMemberPath(raw, folder, name)) return false;
  // A path that does not fit the record is left out rather than cut.
  if (folder.size() >= sizeof F.path || name.size() >= sizeof F.filename) return false;
  F = {};
  std::strncpy(reinterpret_cast<char *>(F.method), MethodOf(A), sizeof F.method);
  F.position = Index;
  F.compsize = uint32_t(size);
  F.filesize = uint32_t(size);
  const time_t t = archive_entry_mtime_is_set(E) ? archive_entry_mtime(E) : 0;
  F.timestamp = int32_t(std::clamp<time_t>(t, 0, std::numeric_limits<int32_t>::max()));
  std::memcpy(F.path, folder.c_str(), folder.size() + 1);
  std::memcpy(F.filename, name.c_str(), name.size() + 1);
  return true;
}

bool StartsWith(const uint8_t *Head, const char *Magic, size_t Len) { return std::memcmp(Head, Magic, Len) == 0; }

// Whether a compressed file is a tar archive. Its first 2 KB seldom
// decompress far enough to show a tar header (the decompressors stop at the
// cut), so the name decides: ".tar.gz", ".tgz", ".tar.bz2", ".tbz", ".tbz2",
// ".tar.xz", ".txz" and ".cbt" are compressed tar archives; a file that
// turns out to be something else fails its listing with a reason.
bool CompressedTarName(const char *Name) {
  std::string n = Name ? Name : "";
  for (char &c : n) c = char(std::tolower(uint8_t(c)));
  for (const char *ext : {".tar.gz", ".tgz", ".tar.bz2", ".tbz", ".tbz2", ".tar.xz", ".txz", ".cbt"})
    if (n.size() >= std::strlen(ext) && n.compare(n.size() - std::strlen(ext), std::string::npos, ext) == 0)
      return true;
  return false;
}

int ReadMember(TReader &R, uint32_t Size, void **Out) {
  if (archive_entry_is_encrypted(R.Entry)) return SPI_ENCRYPTED;
  auto *block = static_cast<uint8_t *>(std::malloc(Size ? Size : 1));
  if (!block) return SPI_NO_MEMORY;
  size_t got = 0;
  while (got < Size) {
    const la_ssize_t n = archive_read_data(R.A.get(), block + got, Size - got);
    if (n <= 0) break;
    got += size_t(n);
  }
  if (got != Size) {
    std::free(block);
    return archive_entry_is_encrypted(R.Entry) ? SPI_ENCRYPTED : SPI_BROKEN_DATA;
  }
  *Out = block;
  return SPI_SUCCESS;
}

// A reader standing at the listed member with position Len of the archive
// Src (its table entry in F), or the result code that says why not.
int OpenMember(const char *Src, intptr_t Len, std::unique_ptr<TReader> &R, SusieFileInfo &F) {
  if (Len < 0 || Len > intptr_t(std::numeric_limits<uint32_t>::max())) return SPI_UNKNOWN_FORMAT;
  const uint32_t index = uint32_t(Len);
  R = Pool().Take(Src, index);
  if (!R) return SPI_FILE_READ_ERROR;
  const int seek = SeekEntry(*R, index);
  if (seek == ARCHIVE_EOF) return SPI_UNKNOWN_FORMAT;
  if (seek != ARCHIVE_OK) return SPI_BROKEN_DATA;
  if (!DescribeEntry(R->A.get(), R->Entry, index, F)) {
    Pool().GiveBack(std::move(R));
    return SPI_UNKNOWN_FORMAT;
  }
  if (archive_entry_is_encrypted(R->Entry)) return SPI_ENCRYPTED;
  return SPI_SUCCESS;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int GetPluginInfo(int infono, char *buf, int buflen) {
  return AnswerPluginInfo(Info, sizeof Info / sizeof Info[0], infono, buf, buflen);
}

__attribute__((visibility("default"))) int IsSupported(const char *filename, const void *head) {
  if (!head) return 0;
  const auto *h = static_cast<const uint8_t *>(head);
  if (StartsWith(h, "PK\x03\x04", 4) || StartsWith(h, "PK\x05\x06", 4)) return 1;
  if (StartsWith(h, "7z\xBC\xAF\x27\x1C", 6)) return 1;
  if (StartsWith(h, "Rar!\x1A\x07", 6)) return 1;
  if (StartsWith(h + 257, "ustar", 5)) return 1;
  if (StartsWith(h, "\x1F\x8B", 2) || StartsWith(h, "BZh", 3) || StartsWith(h, "\xFD" "7zXZ\0", 6))
    return CompressedTarName(filename) ? 1 : 0;
  return 0;
}

__attribute__((visibility("default"))) int GetArchiveInfo(const char *buf, intptr_t len, unsigned int flag,
                                                          void **lphInf) {
  if (!buf || !lphInf) return SPI_INTERNAL_ERROR;
  *lphInf = nullptr;
  if ((flag & SPI_INPUT_MASK) != SPI_INPUT_FILE || len != 0) return SPI_NOT_IMPLEMENTED;
  std::unique_ptr<TReader> r = Pool().Take(buf, 0);
  if (!r) return SPI_FILE_READ_ERROR;
  std::vector<SusieFileInfo> table;
  bool damaged = false;
  for (;;) {
    const int res = archive_read_next_header(r->A.get(), &r->Entry);
    if (res == ARCHIVE_EOF) break;
    if (res < ARCHIVE_WARN) {
      damaged = true;
      break;
    }
    SusieFileInfo f;
    if (DescribeEntry(r->A.get(), r->Entry, r->Next, f)) table.push_back(f);
    ++r->Next;
  }
  // A damaged archive still gives the members in front of the damage.
  if (damaged && table.empty()) return SPI_BROKEN_DATA;
  auto *out = static_cast<SusieFileInfo *>(std::calloc(table.size() + 1, sizeof(SusieFileInfo)));
  if (!out) return SPI_NO_MEMORY;
  if (!table.empty()) std::memcpy(out, table.data(), table.size() * sizeof(SusieFileInfo));
  *lphInf = out;
  return SPI_SUCCESS;
}

__attribute__((visibility("default"))) int GetFileInfo(const char *buf, intptr_t len, const char *filename,
                                                       unsigned int flag, SusieFileInfo *lpInfo) {
  if (!buf || !filename || !lpInfo) return SPI_INTERNAL_ERROR;
  void *table = nullptr;
  const int r = GetArchiveInfo(buf, len, flag & SPI_INPUT_MASK, &table);
  if (r != SPI_SUCCESS) return r;
  std::string wantFolder, wantName;
  SafeMemberPath(filename, wantFolder, wantName);
  const bool caseless = (flag & 0x80) != 0;
  auto same = [caseless](const std::string &A, const std::string &B) {
    if (!caseless) return A == B;
    return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char x, char y) {
             return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y));
           });
  };
  int result = SPI_UNKNOWN_FORMAT;
  for (const auto *f = static_cast<const SusieFileInfo *>(table); f->method[0]; ++f) {
    if (same(f->path, wantFolder) && same(f->filename, wantName)) {
      *lpInfo = *f;
      result = SPI_SUCCESS;
      break;
    }
  }
  std::free(table);
  return result;
}

__attribute__((visibility("default"))) int GetFile(const char *src, intptr_t len, char *dest, unsigned int flag,
                                                   SusieProgressCallback, intptr_t) {
  if (!src || !dest) return SPI_INTERNAL_ERROR;
  if ((flag & SPI_INPUT_MASK) != SPI_INPUT_FILE) return SPI_NOT_IMPLEMENTED;
  std::unique_ptr<TReader> r;
  SusieFileInfo f;
  if (const int open = OpenMember(src, len, r, f); open != SPI_SUCCESS) return open;
  void *block = nullptr;
  TZipRead direct = TZipRead::Declined;
  ReadZipMemberDirect(*r, [&](int Fd, uint64_t Size, const TZipRecord &Record) {
    direct = ReadZipMember(Fd, Size, Record, block);
    return direct != TZipRead::Declined;
  });
  if (direct == TZipRead::Declined) {
    const int res = ReadMember(*r, f.filesize, &block);
    if (res != SPI_SUCCESS) return res;  // the reader is dropped: its stream is in an unknown state
  }
  // After a direct read the member's data is still ahead of the stream; the
  // next header read skips it.
  Pool().GiveBack(std::move(r));
  if (direct == TZipRead::Damaged) return SPI_BROKEN_DATA;
  if ((flag & SPI_OUTPUT_MASK) == SPI_OUTPUT_MEMORY) {
    *reinterpret_cast<void **>(dest) = block;
    return SPI_SUCCESS;
  }
  // File output: the member's safe name in the folder dest.
  std::string path = dest;
  if (!path.empty() && path.back() != '/') path += '/';
  path += f.filename;
  FILE *out = std::fopen(path.c_str(), "wbx");
  int written = SPI_FILE_WRITE_ERROR;
  if (out) {
    if (std::fwrite(block, 1, f.filesize, out) == f.filesize) written = SPI_SUCCESS;
    if (std::fclose(out) != 0) written = SPI_FILE_WRITE_ERROR;
  }
  std::free(block);
  return written;
}

__attribute__((visibility("default"))) int GetFileHead(const char *src, intptr_t len, void *buf, uint32_t buflen,
                                                       uint32_t *got) {
  if (!src || !got || (!buf && buflen)) return SPI_INTERNAL_ERROR;
  *got = 0;
  std::unique_ptr<TReader> r;
  SusieFileInfo f;
  if (const int open = OpenMember(src, len, r, f); open != SPI_SUCCESS) return open;
  const uint32_t want = std::min(buflen, f.filesize);
  auto *out = static_cast<uint8_t *>(buf);
  if (ReadZipMemberDirect(*r, [out, want](int Fd, uint64_t Size, const TZipRecord &Record) {
        return ReadZipMemberHead(Fd, Size, Record, out, want);
      })) {
    *got = want;
    Pool().GiveBack(std::move(r));
    return SPI_SUCCESS;
  }
  while (*got < want) {
    const la_ssize_t n = archive_read_data(r->A.get(), out + *got, want - *got);
    if (n <= 0) break;
    *got += uint32_t(n);
  }
  if (*got != want) return archive_entry_is_encrypted(r->Entry) ? SPI_ENCRYPTED : SPI_BROKEN_DATA;
  // The rest of the member is skipped by the next header read.
  Pool().GiveBack(std::move(r));
  return SPI_SUCCESS;
}

}  // extern "C"
