// The program-wide settings records of a conversion run (their layouts are in
// effects/RunSettings.h, with the copy a run takes), the preview window and
// image-loader plug-in records, and the conversion mode. The settings file
// fills them on the main thread. Also the rules that derive values from them:
// thread counts, output location from the template, process priority, and
// how the resampling kernels reach the main resizer.
#pragma once

#include "core/ChildProcess.h"
#include "core/ImgInfo.h"
#include "effects/RunSettings.h"

#include <array>
#include <cstdint>
#include <string>

class TUnsharpMask;

struct TPreviewOption {
  std::string ViewerPath;
  std::string ViewerOption = "/getclip /user=tessivo";
  std::string ViewerOption2 = "/getclip /newwnd /user=tessivo";
  int32_t Left = -1;
  int32_t Top = -1;
  int32_t Width = 800;
  int32_t Height = 600;
  int32_t HistogramType = 0;
  int32_t HistogramChannel = 0;
  int32_t ResizeMode = 2;
  int32_t ViewMode = 1;
};

struct TSPIOption {
  int32_t SPITo = 3;  // key "ConvertTo" of section "SPI"
  int32_t WICTo = 2;  // key "ConvertTo" of section "WIC": the same for the system decoders
  std::string SPIDirectory;
  LongBool ThreadSafeSPI = LongFalse;
};

// The program-wide records.
extern TSystemOption SystemOption;
extern TFileOption FileOption;
extern TPreviewOption PreviewOption;
extern TSPIOption SPIOption;
extern int32_t ConvertMode;

// A copy of the program-wide records, taken on the thread that edits them.
TRunSettings CurrentRunSettings();

// The three switches the mode is stored as: "RenameOnly" of "File" and "Use"
// of "JPEGTran" and "Combine".
struct TConvertModeSwitches {
  bool RenameOnly = false;
  bool JPEGTranUse = false;
  bool CombineUse = false;
};
// The mode of stored switches, which are made consistent on the way: rename
// wins over lossless JPEG, which wins over combining.
int32_t DeriveConvertMode(TConvertModeSwitches &Switches);
// The switches of a mode chosen in the main window: exactly its own is on.
TConvertModeSwitches SwitchesOfConvertMode(int32_t Mode);

// Thread counts from the stored "MaxThread" and "Parallel" of "System":
// MaxThread below 1 becomes min(ProcessorCount, 4), above ProcessorCount
// becomes ProcessorCount; parallel processing needs at least 2. The stored
// value itself (negative as 0) is kept in MaxThreadSetting.
void ApplySystemThreadRules(TSystemOption &Option, int32_t StoredMaxThread, bool StoredParallel);
// The stored "MaxThread" of "Resize"; below 1 (a hand-edited file) it takes
// the processor count, since a resize needs at least one thread.
uint32_t ResizeThreadCountOf(int32_t StoredMaxThread, int32_t ProcessorCount);
// Workers of a run: MaxThread when parallel, else 1, never more than the
// files (at least 1).
int32_t BatchWorkerCount(const TSystemOption &Option, int32_t FileCount);
// Threads of one worker's pool: all processors for a single worker, else
// min(P, P * min(P, 4) / N).
int32_t BatchWorkerPoolSize(const TSystemOption &Option, int32_t Workers);

// Output location. On this system a template is absolute when it begins
// with "/"; a "\" in a stored template or folder is read as "/", so settings
// written on Windows keep working.
bool IsAbsoluteTemplate(const std::string &Template);
std::string NormalizeStoredPath(std::string Path);
// Folder with exactly one trailing "/" (empty stays empty).
std::string IncludeTrailingDelimiter(const std::string &Folder);
// Path without trailing "/" (the root stays "/").
std::string ExcludeTrailingDelimiter(std::string Path);
// Folder part of a path (up to and including the last "/"), empty when none.
std::string ExtractFilePath(const std::string &Path);
// Reading the settings: the stored template, and "SameDirectory" (consulted
// only for a relative template; when off the template is put under
// OutputDirectory and so becomes absolute).
void ApplyStoredTemplate(TFileOption &Option, const std::string &StoredTemplate, bool StoredSameDirectory);
// The main window's template field was edited.
void SetTemplateText(TFileOption &Option, const std::string &Text);
struct TTemplateSplit {
  std::string Folder;  // with a trailing delimiter
  std::string Name;    // the rest of the template
};
// An absolute template splits at the last delimiter before its first "<";
// a relative one into OutputDirectory and the template itself.
TTemplateSplit SplitTemplate(const TFileOption &Option);
// A folder was chosen in the folder dialog: it takes the old name part.
void ChooseOutputFolder(TFileOption &Option, const std::string &Folder);

// Process priority: TPriorityClass, PriorityClassOf and NiceValueOf are in core/ChildProcess.h.
// Sets the nice value of every thread of the process (threads started later
// inherit it). Raising the priority above normal needs the permission to do
// so; without it the process goes to normal. False when that failed too.
bool ApplyProcessPriority(int32_t ProcessPriority);

// The same on the program's main resizer with ResizeOption; raises
// ETessivoError when the resizers have not been created.
void ApplyResizeKernels(int32_t Decimation, int32_t Interpolation, int32_t SIMD);
// Hands TResizeOption.MaxThread to the main resizer and USM (when given);
// after reading the settings also to the anti-aliasing and thumbnail resizers.
void ApplyResizeThreadCount(const TResizeOption &Option, bool AfterRead, TUnsharpMask *USM);
