// The program-wide settings records and the rules derived from them.
#include "batch/ConvertOption.h"

#include "core/Errors.h"
#include "resample/Resize.h"
#include "resample/WeightedMean.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>

TSystemOption SystemOption;
TFileOption FileOption;
TPreviewOption PreviewOption;
TSPIOption SPIOption;
int32_t ConvertMode = CONVERT_MODE_NORMAL;

int32_t DeriveConvertMode(TConvertModeSwitches &Switches) {
  if (Switches.RenameOnly) {
    Switches.JPEGTranUse = Switches.CombineUse = false;
    return CONVERT_MODE_RENAME;
  }
  if (Switches.JPEGTranUse) {
    Switches.CombineUse = false;
    return CONVERT_MODE_JPEGTRAN;
  }
  return Switches.CombineUse ? CONVERT_MODE_COMBINE : CONVERT_MODE_NORMAL;
}

TConvertModeSwitches SwitchesOfConvertMode(int32_t Mode) {
  TConvertModeSwitches s;
  s.RenameOnly = Mode == CONVERT_MODE_RENAME;
  s.JPEGTranUse = Mode == CONVERT_MODE_JPEGTRAN;
  s.CombineUse = Mode == CONVERT_MODE_COMBINE;
  return s;
}

void ApplySystemThreadRules(TSystemOption &Option, int32_t StoredMaxThread, bool StoredParallel) {
  const int32_t p = std::max(1, Option.ProcessorCount);
  Option.MaxThreadSetting = std::max(0, StoredMaxThread);
  int32_t m = StoredMaxThread;
  if (m < 1) m = std::min(p, 4);
  if (m > p) m = p;
  Option.MaxThread = m;
  Option.ParallelProcessing = StoredParallel && m >= 2;
}

uint32_t ResizeThreadCountOf(int32_t StoredMaxThread, int32_t ProcessorCount) {
  return uint32_t(StoredMaxThread >= 1 ? StoredMaxThread : std::max(1, ProcessorCount));
}

int32_t BatchWorkerCount(const TSystemOption &Option, int32_t FileCount) {
  const int32_t n = Option.ParallelProcessing ? Option.MaxThread : 1;
  return std::max(1, std::min(n, FileCount));
}

int32_t BatchWorkerPoolSize(const TSystemOption &Option, int32_t Workers) {
  const int32_t p = std::max(1, Option.ProcessorCount);
  return Workers <= 1 ? p : WorkerPoolSize(p, Workers);
}

bool IsAbsoluteTemplate(const std::string &Template) { return !Template.empty() && Template.front() == '/'; }

std::string NormalizeStoredPath(std::string Path) {
  std::replace(Path.begin(), Path.end(), '\\', '/');
  return Path;
}

std::string IncludeTrailingDelimiter(const std::string &Folder) {
  if (Folder.empty() || Folder.back() == '/') return Folder;
  return Folder + "/";
}

std::string ExcludeTrailingDelimiter(std::string Path) {
  while (Path.size() > 1 && Path.back() == '/') Path.pop_back();
  return Path;
}

std::string ExtractFilePath(const std::string &Path) {
  const size_t slash = Path.find_last_of('/');
  return slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
}

void ApplyStoredTemplate(TFileOption &Option, const std::string &StoredTemplate, bool StoredSameDirectory) {
  Option.FileNameFormat = NormalizeStoredPath(StoredTemplate);
  Option.OutputDirectory = NormalizeStoredPath(Option.OutputDirectory);
  if (IsAbsoluteTemplate(Option.FileNameFormat)) {
    Option.SameDirectory = false;
    return;
  }
  Option.SameDirectory = StoredSameDirectory;
  if (!Option.SameDirectory)
    Option.FileNameFormat = IncludeTrailingDelimiter(Option.OutputDirectory) + Option.FileNameFormat;
}

void SetTemplateText(TFileOption &Option, const std::string &Text) {
  Option.SameDirectory = !IsAbsoluteTemplate(Text);
  Option.FileNameFormat = Text;
}

TTemplateSplit SplitTemplate(const TFileOption &Option) {
  const std::string &t = Option.FileNameFormat;
  if (!IsAbsoluteTemplate(t)) return {IncludeTrailingDelimiter(Option.OutputDirectory), t};
  const size_t lt = t.find('<');
  const std::string head = lt == std::string::npos ? t : t.substr(0, lt + 1);
  const size_t slash = head.rfind('/');  // there is one: the template begins with it
  std::string folder = head.substr(0, slash + 1);
  return {folder, t.substr(folder.size())};
}

void ChooseOutputFolder(TFileOption &Option, const std::string &Folder) {
  const std::string name = SplitTemplate(Option).Name;
  Option.OutputDirectory = Folder;
  Option.SameDirectory = false;
  Option.FileNameFormat = IncludeTrailingDelimiter(Folder) + name;
}

namespace {

// On Linux the nice value belongs to each thread, and a thread inherits it
// only when it is created; the pools started before the settings were read
// are set one by one.
bool SetNiceOfAllThreads(int32_t Nice) {
  bool all = true, any = false;
  std::error_code ec;
  for (const auto &e : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    const std::string name = e.path().filename().string();
    char *end = nullptr;
    const long tid = std::strtol(name.c_str(), &end, 10);
    if (end == name.c_str() || *end) continue;
    const bool ok = setpriority(PRIO_PROCESS, id_t(tid), Nice) == 0;
    all = all && ok;
    any = true;
  }
  if (!any) return setpriority(PRIO_PROCESS, 0, Nice) == 0;  // no /proc: the calling thread
  return all;
}

}  // namespace

bool ApplyProcessPriority(int32_t ProcessPriority) {
  const int32_t nice = NiceValueOf(PriorityClassOf(ProcessPriority));
  if (SetNiceOfAllThreads(nice)) return true;
  // Without the permission to raise the priority, normal is the best there is.
  return nice < 0 && SetNiceOfAllThreads(0);
}

void ApplyResizeKernels(int32_t Decimation, int32_t Interpolation, int32_t SIMD) {
  if (!MainResizer) throw ETessivoError("リサイズ処理が初期化されていません");
  ApplyResizeKernels(*MainResizer, ResizeOption, Decimation, Interpolation, SIMD);
}

void ApplyResizeThreadCount(const TResizeOption &Option, bool AfterRead, TUnsharpMask *USM) {
  const int32_t n = int32_t(std::max<uint32_t>(1, std::min<uint32_t>(Option.MaxThread, INT32_MAX)));
  if (MainResizer) MainResizer->SetMaxThreadNum(n);
  if (USM) USM->SetMaxThreadNum(n);
  if (AfterRead) {
    if (AntialiasingResizer) AntialiasingResizer->SetMaxThreadNum(n);
    if (ThumbnailResizer) ThumbnailResizer->SetMaxThreadNum(n);
  }
}

TRunSettings CurrentRunSettings() {
  TRunSettings S;
  S.System = SystemOption;
  S.File = FileOption;
  S.Resize = ResizeOption;
  S.ColorManagement = ColorManagementOption;
  S.ConvertMode = ConvertMode;
  S.Formats = CurrentFormatOptions();
  return S;
}
