// The naming pass of a run and its thread.
#include "batch/MakeOutputFileName.h"

#include "core/AsciiCase.h"
#include "batch/ConvertOption.h"
#include "batch/ImageInfo.h"
#include "batch/ProgressFrm3.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cerrno>
#include <cstdio>
#include <set>

namespace {

// Names compared without regard to case, as the run's list of names is:
// outputs that differ only in case would collide on case-folding file systems.
struct TCaseInsensitiveLess {
  bool operator()(const std::string &A, const std::string &B) const {
    const size_t n = std::min(A.size(), B.size());
    for (size_t i = 0; i < n; ++i) {
      const unsigned char a = AsciiLower(A[i]);
      const unsigned char b = AsciiLower(B[i]);
      if (a != b) return a < b;
    }
    return A.size() < B.size();
  }
};

// Anything at the path, file or not: a name taken by a folder is taken too.
bool PathExists(const std::string &Path) {
  struct stat st {};
  return ::lstat(Path.c_str(), &st) == 0;
}


// mkdir -p; failures are left to the save, which reports them.
void ForceDirectories(const std::string &Folder) {
  if (Folder.empty()) return;
  struct stat st {};
  if (::stat(Folder.c_str(), &st) == 0) return;
  size_t pos = 0;
  while ((pos = Folder.find('/', pos + 1)) != std::string::npos) {
    const std::string part = Folder.substr(0, pos);
    if (::stat(part.c_str(), &st) != 0) ::mkdir(part.c_str(), 0777);
  }
  ::mkdir(Folder.c_str(), 0777);
}

std::string FolderOf(const std::string &Path) {
  const size_t slash = Path.find_last_of('/');
  return slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
}

std::string NamePart(const std::string &Path) {
  const size_t slash = Path.find_last_of('/');
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

// Splits at the extension of the file-name part.
void SplitExtension(const std::string &Path, std::string &Base, std::string &Ext) {
  const size_t slash = Path.find_last_of('/');
  const size_t dot = Path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    Base = Path, Ext.clear();
  } else {
    Base = Path.substr(0, dot), Ext = Path.substr(dot);
  }
}

int64_t Tiles(int32_t Side) { return (int64_t(Side) + 255) / 256; }

}  // namespace

// A read-only output: an existing file nobody may write (no write bit at
// all), or one this process may not write.
bool IsReadOnlyOutput(const std::string &Path) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  return ::access(Path.c_str(), W_OK) != 0 && errno == EACCES;
}

std::string NumberedName(const std::string &Name, int64_t k) {
  std::string base, ext;
  SplitExtension(Name, base, ext);
  return base + "[" + std::to_string(k) + "]" + ext;
}

TOutputNameTotals NameOutputFiles(TImageInfoList &List, std::string Template, const TRunSettings &Settings,
                                  const TScaleOfProc &ScaleOf, const std::atomic<bool> *Stop,
                                  const std::atomic<bool> *Suspend, TAutoResetEvent *RunEvent, bool CreateFolders) {
  TOutputNameTotals totals;
  std::set<std::string, TCaseInsensitiveLess> names;
  const TFileOption &option = Settings.File;
  Template = NormalizeStoredPath(Template);
  int64_t number = int64_t(ParseStartNumber(Template, option)) - 1;
  const bool absolute = IsAbsoluteTemplate(Template);
  bool invalid = false;

  for (int32_t i = 0; i < List.Count(); ++i) {
    while (Suspend && Suspend->load() && !(Stop && Stop->load())) {
      if (RunEvent) RunEvent->Wait();
    }
    if (Stop && Stop->load()) {
      totals.Stopped = true;
      break;
    }
    TImageInfo &info = *List[i];
    info.OutPutFileName.clear();
    info.UnnumberedOutput.clear();
    if (!info.Checked) continue;
    if (!FileExists(info.FIsArchive ? info.FArchivePath : info.FPath)) continue;
    if (!EnsureProbed(info) || info.Width <= 0 || info.Height <= 0) {
      if (info.Named) PutLoadError(info.FPath + ": " + NOT_AN_IMAGE_MSG);
      continue;
    }

    const std::string prefix = absolute ? std::string() : FolderOf(info.FPath);
    ++number;  // every taking-part entry uses up a number, skipped or not
    totals.AllSize += Tiles(info.Width) * Tiles(info.Height);
    const TScale scale = ScaleOf ? ScaleOf(info) : TScale{};
    std::string name = ExpandFileNameTemplate(Template, info, int32_t(number), scale, Settings);
    std::string base, ext;
    SplitExtension(NamePart(name), base, ext);
    if (base.empty()) {
      invalid = true;
      break;
    }
    name = prefix + name;
    const std::string unnumbered = name;

    if (!option.NotOverwrite) {
      if (!option.IgnoreReadOnlyAttr && IsReadOnlyOutput(name)) {
        PutLoadError(info.GetName() + ": " + name + ": " + READ_ONLY_OUTPUT_MSG);
        name.clear();
      }
      else if (names.count(name)) name.clear();
    } else if (PathExists(name) || names.count(name)) {
      if (option.Skip) {
        name.clear();
      } else {
        for (int64_t k = 1;; ++k) {
          const std::string candidate = NumberedName(unnumbered, k);
          if (!PathExists(candidate) && !names.count(candidate)) {
            name = candidate;
            break;
          }
        }
      }
    }
    if (!name.empty()) {
      if (CreateFolders) ForceDirectories(FolderOf(name));
      names.insert(name);
    }
    info.OutPutFileName = name;
    if (!name.empty()) info.UnnumberedOutput = unnumbered;
  }

  if (Stop && Stop->load()) totals.Stopped = true;
  totals.OutputFileCount = invalid ? -1 : int32_t(names.size());
  totals.NextNumber = int32_t(std::clamp<int64_t>(number + 1, INT32_MIN, INT32_MAX));
  ClearFolderCountCache();
  return totals;
}

void StoreNextSerialNumber(const TOutputNameTotals &Totals, const TFileOption &RunFile) {
  NextSerialNumber = Totals.NextNumber;
  if (RunFile.ResetType == 2) FileOption.StartNumber = Totals.NextNumber;
}

TOutputNameTotals MakeOutputFileNames(TImageInfoList &List, std::string Template, const TRunSettings &Settings,
                                      const TScaleOfProc &ScaleOf, const std::atomic<bool> *Stop,
                                      const std::atomic<bool> *Suspend, TAutoResetEvent *RunEvent,
                                      bool CreateFolders) {
  const TOutputNameTotals totals =
      NameOutputFiles(List, std::move(Template), Settings, ScaleOf, Stop, Suspend, RunEvent, CreateFolders);
  StoreNextSerialNumber(totals, Settings.File);
  return totals;
}

namespace {
uint64_t NextThreadID() {
  static std::atomic<uint64_t> id{1};
  return id++;
}
}  // namespace

TMakeOutputFileNameThread::TMakeOutputFileNameThread(TImageInfoList &List, std::string Template,
                                                     const TRunSettings &Settings, TReportProc Report,
                                                     TScaleOfProc ScaleOf, const std::atomic<bool> *Suspend)
    : FList(List), FTemplate(std::move(Template)), FSettings(Settings), FReport(std::move(Report)),
      FScaleOf(std::move(ScaleOf)), FSuspend(Suspend), FThreadID(NextThreadID()) {}

TMakeOutputFileNameThread::~TMakeOutputFileNameThread() {
  Terminate();
  WaitFor();
}

void TMakeOutputFileNameThread::Resume() {
  if (FThread.joinable()) {
    RunEvent.Set();
    return;
  }
  FThread = std::thread([this] {
    FTotals = NameOutputFiles(FList, FTemplate, FSettings, FScaleOf, &FTerminated, FSuspend, &RunEvent);
    if (FReport) FReport(FTotals.Stopped ? WM_NAMES_STOPPED : WM_NAMES_DONE, FThreadID);
  });
}

void TMakeOutputFileNameThread::Terminate() {
  FTerminated = true;
  RunEvent.Set();
}

void TMakeOutputFileNameThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}
