// The program-wide settings records of a conversion run: program behaviour,
// input list and output files, size rule and resampling, preview window and
// image-loader plug-ins, and the conversion mode. The settings file fills
// them on the main thread; batch workers only read them while a run is shown
// in its modal window, so they need no locks. Also the rules that derive
// values from them: thread counts, output location from the template,
// process priority, and how the resampling kernels reach the main resizer.
#pragma once

#include "color/ColorManagementOption.h"
#include "core/ImgInfo.h"
#include "io/FormatOption.h"

#include <array>
#include <cstdint>
#include <string>

class TResizer;
class TUnsharpMask;

constexpr int32_t SIZE_RULE_COUNT = 14;

struct TSystemOption {
  int32_t ProcessorCount = 1;  // logical processors at start-up; not stored
  int32_t MaxThread = 1;       // files converted at once with ParallelProcessing
  std::array<int32_t, 16> CustomPalette{};  // 0x00BBGGRR each
  bool ParallelProcessing = true;
  bool MemReserve = false;     // kept and stored; nothing to reserve in a 64-bit build
  bool UseExternalTool = false;
  std::string Command;         // command-line template run after a clean batch
  int32_t Dither = 0;          // 0 "なし", 1 "ランダム", 2 "誤差拡散"
  LongBool Multiple = LongFalse;
  std::string Caption = "%ini";
  int32_t ThumbnailSize = 1;   // 0 none, 1 160, 2 320, 3 640 pixels
  LongBool UseAVX = LongTrue;
  LongBool DeleteFile = LongFalse;
  std::string DeleteFileName;
  LongBool WatchClipBoard = LongFalse;
  LongBool EnabledLabMode = LongFalse;
  LongBool Notify = LongFalse;
  std::string SoundFile;
  int32_t ProcessPriority = 2;  // 0 "低", 1 "通常以下", 2 "通常", 3 "通常以上", 4 "高"
};

struct TFileOption {
  bool SameDirectory = true;   // the template is relative to each source's folder
  std::string OutputDirectory;
  std::string ClipBoardTempDir;
  bool ShowDirectory = true;
  bool OpenCheck = true;
  bool NotOverwrite = true;
  bool RenameOnly = false;     // true exactly in conversion mode 3
  bool AddSubFolder = true;
  bool AtOnce = false;         // "即時変換"
  bool RemoveList = false;
  bool Skip = false;
  int32_t StartNumber = 1;
  int32_t ResetType = 0;       // 0 every run, 1 while the program runs, 2 stored
  LongBool IgnoreReadOnlyAttr = LongFalse;
  std::string FileNameFormat = "resize/<old>";
  LongBool SkipImageCheck = LongFalse;
  LongBool DeleteInputFile = LongFalse;
  LongBool AllowUndo = LongFalse;
  int32_t AutoSortMode = 0;
  LongBool CheckExt = LongFalse;
  std::string TargetExt = "jpg,png,bmp,tif,gif,ico,wdp,jxr,hdp";
};

struct TResizeOption {
  int32_t DecimationMode = 7;      // key "DecimationType", 1 to 9
  int32_t DecimationRadius = 3;    // 1 to 32
  int32_t DecimationSharp = 2;     // -4 to 8
  int32_t DecimationBlur = 10;     // 1 to 24
  int32_t InterpolationMode = 7;   // key "InterpolationType", 2 to 9
  int32_t InterpolationRadius = 3; // 1 to 8
  int32_t InterpolationSharp = 0;
  int32_t InterpolationBlur = 11;
  int32_t SIMDMode = 3;            // 2 floating point ("実数"), 3 integer ("整数")
  uint32_t MaxThread = 1;          // threads of one resize, unsharp mask or blur
  std::array<double, SIZE_RULE_COUNT> Size1{};  // first value of each size rule
  std::array<double, SIZE_RULE_COUNT> Size2{};
  int32_t Rule = 0;                // 0 to 13
  std::string History;             // comma text of quoted entries, newest first
  bool Degamma = false;            // "リニアな色空間で処理する"
  bool NoExpand = false;           // "拡大しない"
  bool Limiter = false;            // "リミッター"

  TResizeOption();  // the size values start at the rule table's defaults
};

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
  std::string SPIDirectory;
  LongBool ThreadSafeSPI = LongFalse;
};

// Conversion modes (items "Normal", "JPEGTran", "画像連結", "リネーム").
enum : int32_t {
  CONVERT_MODE_NORMAL = 0,
  CONVERT_MODE_JPEGTRAN = 1,
  CONVERT_MODE_COMBINE = 2,
  CONVERT_MODE_RENAME = 3,
};

// The program-wide records.
extern TSystemOption SystemOption;
extern TFileOption FileOption;
extern TResizeOption ResizeOption;
extern TPreviewOption PreviewOption;
extern TSPIOption SPIOption;
extern int32_t ConvertMode;

// What one run reads of the settings: copies of the program-wide records,
// taken when the run starts. Workers, savers and the resize step read these
// and never the program-wide records, so a window may edit the records (or
// another profile may be read) while a run, a preview or a thumbnail is being
// computed.
struct TRunSettings {
  TSystemOption System;
  TFileOption File;
  TResizeOption Resize;
  TColorManagementOption ColorManagement;
  int32_t ConvertMode = CONVERT_MODE_NORMAL;
  TFormatOptions Formats;
};
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
// becomes ProcessorCount; parallel processing needs at least 2.
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

// Process priority. Classes 0 idle, 1 below normal, 3 above normal, 4 high,
// anything else normal; on this system they are nice values.
enum class TPriorityClass { Idle, BelowNormal, Normal, AboveNormal, High };
TPriorityClass PriorityClassOf(int32_t ProcessPriority);
// 19, 10, 0, -5, -10.
int32_t NiceValueOf(TPriorityClass Class);
// Sets the nice value of every thread of the process (threads started later
// inherit it). Raising the priority above normal needs the permission to do
// so; without it the process goes to normal. False when that failed too.
bool ApplyProcessPriority(int32_t ProcessPriority);

// Installs the kernels of the resize options in Resizer: the reduction
// kernel for Decimation 1 to 9, the enlargement kernel for Interpolation 2
// to 9 (each with its radius, sharpness or blur and its limiter flag), and
// the data path with linear light when SIMD is not 0. Other values leave
// that part as it is.
void ApplyResizeKernels(TResizer &Resizer, const TResizeOption &Option, int32_t Decimation,
                        int32_t Interpolation, int32_t SIMD);
// The same on the program's main resizer with ResizeOption; raises
// ETessivoError when the resizers have not been created.
void ApplyResizeKernels(int32_t Decimation, int32_t Interpolation, int32_t SIMD);
// Hands TResizeOption.MaxThread to the main resizer and USM (when given);
// after reading the settings also to the anti-aliasing and thumbnail resizers.
void ApplyResizeThreadCount(const TResizeOption &Option, bool AfterRead, TUnsharpMask *USM);
