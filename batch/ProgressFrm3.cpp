// The adding thread and its controller: folders are walked in file-system
// order, files filtered by extension and probed (or only looked at when
// probing is skipped), duplicates dropped by exact path, archive members
// listed through the archive plug-ins, and symbolic links followed as the
// shortcuts they stand in for.
#include "batch/ProgressFrm3.h"

#include "batch/ConvertOption.h"
#include "core/TempFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

TArchiveHost *ArchiveHost = nullptr;

namespace {

uint64_t NextThreadID() {
  static std::atomic<uint64_t> id{1};
  return id++;
}

// The member as it may be listed: its folder without empty, "." and ".."
// components (a hostile archive must not place outputs above its own
// folder), "\\" read as "/"; false for a member without a usable name.
bool SafeMember(const TArchiveMemberInfo &Member, TArchiveMemberInfo &Safe) {
  Safe = Member;
  std::string folder = NormalizeStoredPath(Member.Path);
  std::string name = NormalizeStoredPath(Member.FileName);
  const size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) {
    folder += '/';
    folder.append(name, 0, slash);
    name.erase(0, slash + 1);
  }
  if (name.empty() || name == "." || name == "..") return false;
  Safe.Path.clear();
  size_t start = 0;
  while (start <= folder.size()) {
    size_t end = folder.find('/', start);
    if (end == std::string::npos) end = folder.size();
    const std::string part = folder.substr(start, end - start);
    if (!part.empty() && part != "." && part != "..") Safe.Path += part + "/";
    start = end + 1;
  }
  Safe.FileName = name;
  return true;
}

// How much of a member is read to probe it from its head: a JPEG's largest
// Exif block (64 KB) behind its JFIF segment, with room for the tables and
// the frame header. Every byte of the head is inflated for nothing when the
// member is converted later; a head too short costs one whole extraction.
constexpr uint32_t MEMBER_PROBE_HEAD = 96 * 1024;

// Whether the probe of a file with this extension needs only its head: the
// program's own BMP, PNG and JPEG header probes (formats of the imaging
// service and of plug-ins may keep what they need at the end).
bool HeadProbeSuffices(const std::string &Ext) {
  for (const char *e : {".jpg", ".jpeg", ".jpe", ".jfif", ".exif", ".png", ".bmp", ".dib"})
    if (Ext == e) return true;
  return false;
}

}  // namespace

std::string TemplateOutputFolder(const std::string &Template) {
  const std::string t = NormalizeStoredPath(Template);
  const size_t lastSlash = t.find_last_of('/');
  if (lastSlash == std::string::npos) return {};
  const size_t token = t.find('<');
  const size_t end = token == std::string::npos || token > lastSlash ? lastSlash : t.rfind('/', token);
  if (end == std::string::npos) return {};
  const std::string folder = std::filesystem::path(t.substr(0, end)).lexically_normal().string();
  return folder == "." || folder == "/" ? std::string() : ExcludeTrailingDelimiter(folder);
}

TListupOptions CurrentListupOptions() {
  TListupOptions o;
  o.CheckExt = FileOption.CheckExt != 0;
  o.TargetExt = FileOption.TargetExt;
  o.AddSubFolder = FileOption.AddSubFolder;
  o.JPEGTranMode = ConvertMode == CONVERT_MODE_JPEGTRAN;
  // The lossless mode keeps only JPEG files, so it always probes.
  o.SkipImageCheck = (FileOption.SkipImageCheck || FileOption.AtOnce) && !o.JPEGTranMode;
  const int32_t sort = FileOption.AutoSortMode;
  o.SortByName = sort == 3 || (sort == 1 && FileOption.AtOnce);
  o.SortByDate = sort == 4 || (sort == 2 && FileOption.AtOnce);
  return o;
}

// ---------------------------------------------------------------------------
// TListupThread

TListupThread::TListupThread(TImageInfoList &List, TMode Mode, std::vector<std::string> Paths, bool IsTemp,
                             TListupOptions Options, TReportProc Report)
    : SkipImageCheck(Options.SkipImageCheck), FList(List), FMode(Mode), FPaths(std::move(Paths)),
      FIsTemp(IsTemp), FOptions(std::move(Options)), FReport(std::move(Report)), FThreadID(NextThreadID()) {}

TListupThread::~TListupThread() {
  Terminate();
  WaitFor();
}

void TListupThread::Start() {
  if (FThread.joinable()) return;
  FThread = std::thread([this] {
    const uint32_t msg = Execute();
    if (FReport) FReport(msg, FThreadID);
  });
}

void TListupThread::Terminate() { FTerminated = true; }

void TListupThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

uint32_t TListupThread::Execute() {
  FVisited.clear();
  FOutputFolders.clear();
  FOutputFolder = TemplateOutputFolder(FOptions.OutputTemplate);
  if (IsAbsoluteTemplate(FOutputFolder)) FOutputFolders.insert(FOutputFolder);
  if (FMode == TMode::Folder && FPaths.size() > 1) FPaths.resize(1);
  for (const std::string &path : FPaths) {
    if (Terminated()) break;
    ListPath(path);
  }
  if (FOptions.SortByName) FList.SortByFolderAndName();
  else if (FOptions.SortByDate) FList.SortByDate();
  return Terminated() ? WM_LISTUP_STOPPED : WM_LISTUP_DONE;
}

void TListupThread::ListPath(const std::string &PathText) {
  const std::string path = ExcludeTrailingDelimiter(NormalizeStoredPath(PathText));
  if (path.empty()) return;
  BaseDir = ExtractFilePath(path);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ListFolder(path);
  else ListFile(path, true);
}

void TListupThread::ListFolder(const std::string &DirText) {
  const std::string dir = ExcludeTrailingDelimiter(DirText);
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return;
  // A folder is walked once per run, so links that lead back up cannot loop.
  if (!FVisited.emplace(uint64_t(st.st_dev), uint64_t(st.st_ino)).second) return;
  // The names are read first and the folder closed before descending, so
  // deep trees do not hold one open folder per level.
  std::vector<std::string> names;
  if (DIR *d = ::opendir(dir.c_str())) {
    while (const dirent *e = ::readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    ::closedir(d);
  } else {
    PutLoadError(dir + ":" + std::strerror(errno));
    return;
  }
  const std::string prefix = dir == "/" ? dir : dir + "/";
  if (!FOutputFolder.empty() && !IsAbsoluteTemplate(FOutputFolder))
    FOutputFolders.insert(std::filesystem::path(prefix + FOutputFolder).lexically_normal().string());
  for (const std::string &name : names) {
    if (Terminated()) break;
    // Outputs still being written, by this run or another, are no sources.
    if (IsOutputTemporaryName(name)) continue;
    const std::string child = prefix + name;
    struct stat cs {};
    if (::lstat(child.c_str(), &cs) != 0) continue;
    if (S_ISDIR(cs.st_mode)) {
      // An earlier run's outputs would come back as "resize/resize/...".
      if (FOptions.AddSubFolder && !FOutputFolders.count(std::filesystem::path(child).lexically_normal().string()))
        ListFolder(child);
    } else {
      ListFile(child);
    }
  }
}

// A symbolic link stands in for a shell shortcut: its target is listed, a
// folder only with AddSubFolder. A dangling link or a cycle of links lists
// nothing. True when Path was a link.
bool TListupThread::FollowLink(const std::string &Path, bool Named) {
  struct stat ls {};
  if (::lstat(Path.c_str(), &ls) != 0 || !S_ISLNK(ls.st_mode)) return false;
  char *resolved = ::realpath(Path.c_str(), nullptr);
  if (!resolved) {
    if (Named) PutLoadError(Path + ": " + std::strerror(errno));
    return true;
  }
  const std::string target = resolved;
  std::free(resolved);
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0) {
    if (Named) PutLoadError(Path + ": " + std::strerror(errno));
    return true;
  }
  if (S_ISDIR(st.st_mode)) {
    if (FOptions.AddSubFolder) ListFolder(target);
  } else {
    ListFile(target, Named);
  }
  return true;
}

std::unique_ptr<TImageInfo> TListupThread::NewEntry() const { return std::make_unique<TImageInfo>(); }

void TListupThread::ListFile(const std::string &Path, bool Named) {
  if (FollowLink(Path, Named)) return;
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) {
    PutLoadError(Path + ":" + std::strerror(errno));
    return;
  }
  // Devices, pipes and sockets are no image files; opening a pipe would block.
  if (!S_ISREG(st.st_mode)) {
    if (Named) PutLoadError(Path + ": " + NOT_A_FILE_MSG);
    return;
  }

  if (ArchiveHost && ArchiveHost->ClaimsExtension(Path)) {
    uint8_t head[2048] = {};
    const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      size_t got = 0;
      while (got < sizeof head) {
        const ssize_t n = ::read(fd, head + got, sizeof head - got);
        if (n <= 0) break;
        got += size_t(n);
      }
      ::close(fd);
      if (void *plugin = ArchiveHost->PluginFor(Path, head)) {
        ListArchive(Path, plugin);
        return;
      }
    }
  }

  if (FOptions.CheckExt && !TargetExtContains(FOptions.TargetExt, Path)) {
    if (Named) PutLoadError(Path + ": " + EXCLUDED_EXTENSION_MSG);
    return;
  }
  if (FList.Contains(Path)) return;
  auto info = NewEntry();
  if (SkipImageCheck) {
    if (!QuickProbeFile(Path, *info)) {
      if (Named) PutLoadError(Path + ": " + (st.st_size == 0 ? EMPTY_FILE_MSG : NOT_AN_IMAGE_MSG));
      return;
    }
  } else {
    if (!ProbeImageFile(Path, *info)) {
      // Unknown formats found in a folder are dropped silently; an unreadable
      // file, or one the user named, is reported.
      const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
      if (fd < 0) PutLoadError(Path + ":" + std::strerror(errno));
      else if (Named) PutLoadError(Path + ": " + (st.st_size == 0 ? EMPTY_FILE_MSG : NOT_AN_IMAGE_MSG));
      if (fd >= 0) ::close(fd);
      return;
    }
    if (FOptions.JPEGTranMode && info->PictureFormat != PICTURE_JPEG) {
      if (Named) PutLoadError(Path + ": " + NOT_A_JPEG_MSG);
      return;
    }
  }
  AddEntry(std::move(info), Named);
}

void TListupThread::ListArchive(const std::string &Archive, void *Plugin) {
  std::vector<TArchiveMemberInfo> members;
  if (!ArchiveHost->ReadMembers(Archive, Plugin, members)) return;
  for (const TArchiveMemberInfo &original : members) {
    if (Terminated()) break;
    TArchiveMemberInfo member;
    if (!SafeMember(original, member)) continue;
    const std::string path = ArchiveVirtualPath(Archive, member);
    if (FList.Contains(path)) continue;
    auto info = NewEntry();
    if (SkipImageCheck) {
      if (!QuickProbeArchiveMember(Archive, member, Plugin, *info)) continue;
    } else {
      // The program's own header probes read only the head of a file: a
      // member they know is probed from its first bytes, so that a listed
      // member is inflated whole only once, when it is converted. A head
      // that is not enough (a JPEG with huge segments in front) is followed
      // by the whole member.
      std::vector<uint8_t> bytes;
      const bool byHead = HeadProbeSuffices(LowerExtension(member.FileName)) && original.FileSize > MEMBER_PROBE_HEAD;
      if (!(byHead ? ArchiveHost->ExtractHead(Archive, Plugin, original, MEMBER_PROBE_HEAD, bytes)
                   : ArchiveHost->Extract(Archive, Plugin, original, bytes)))
        continue;
      bool probed = false;
      if (byHead) {
        // A head that ends before what the probe needs is no fault of the
        // member: only the probe of the whole member may log one.
        try {
          probed = ProbeArchiveMember(Archive, member, Plugin, bytes.data(), bytes.size(), *info, TProbeErrors::Raise);
        } catch (const std::exception &) {
        }
      } else {
        probed = ProbeArchiveMember(Archive, member, Plugin, bytes.data(), bytes.size(), *info);
      }
      if (!probed && byHead) {
        if (!ArchiveHost->Extract(Archive, Plugin, original, bytes)) continue;
        probed = ProbeArchiveMember(Archive, member, Plugin, bytes.data(), bytes.size(), *info);
      }
      if (!probed) continue;
      if (FOptions.JPEGTranMode && info->PictureFormat != PICTURE_JPEG) continue;
    }
    AddEntry(std::move(info));
  }
}

void TListupThread::AddEntry(std::unique_ptr<TImageInfo> Info, bool Named) {
  // Only an entry that joins the list owns the temporary file: a dropped
  // duplicate must not delete the file the listed entry still reads.
  Info->IsTempFile = FIsTemp ? LongTrue : LongFalse;
  Info->Checked = true;
  Info->Named = Named;
  const std::string folder = ExtractFilePath(Info->FPath);
  Info->Dir = folder.compare(0, BaseDir.size(), BaseDir) == 0 ? folder.substr(BaseDir.size()) : std::string();
  Info->Base = BaseDir;
  if (FOptions.SortByName) Info->FillSortKeys();
  FList.Add(std::move(Info));
  FAdded.fetch_add(1);
}

// ---------------------------------------------------------------------------
// TProgressForm3

TProgressForm3::~TProgressForm3() = default;

void TProgressForm3::AddDropFiles(std::vector<std::string> Paths) {
  FMode = TListupThread::TMode::DropFiles;
  FPaths = std::move(Paths);
  FIsTemp = false;
}

void TProgressForm3::AddFiles(std::vector<std::string> Paths, bool IsTemp) {
  FMode = TListupThread::TMode::Files;
  FPaths = std::move(Paths);
  FIsTemp = IsTemp;
}

void TProgressForm3::AddFolder(std::string Folder) {
  FMode = TListupThread::TMode::Folder;
  FPaths = {std::move(Folder)};
  FIsTemp = false;
}

int32_t TProgressForm3::ShowModal() {
  uint32_t reported = 0;
  TListupThread thread(FList, FMode, FPaths, FIsTemp, FHasOptions ? FOptions : CurrentListupOptions(),
                       [&](uint32_t Msg, uint64_t) {
                         reported = Msg;
                         if (OnReport) OnReport(Msg);
                       });
  {
    std::lock_guard lock(FLock);
    FThread = &thread;
    if (FCloseRequested) thread.Terminate();
  }
  thread.Start();
  thread.WaitFor();
  {
    std::lock_guard lock(FLock);
    FThread = nullptr;
    FCloseRequested = false;
  }
  return reported == WM_LISTUP_STOPPED ? 2 : 1;
}

int32_t TProgressForm3::Listed() const {
  std::lock_guard lock(FLock);
  return FThread ? FThread->Added() : 0;
}

void TProgressForm3::Close() {
  std::lock_guard lock(FLock);
  FCloseRequested = true;
  if (FThread) FThread->Terminate();
}
