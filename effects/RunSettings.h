// The settings records a run reads, and the copy of them a run takes when it
// starts (TRunSettings), which reaches the workers, the savers and the
// processing steps through their parameters. The program-wide records and the
// rules derived from them are in batch/ConvertOption.h.
#pragma once

#include "color/ColorManagementOption.h"
#include "core/ImgInfo.h"
#include "effects/ResizeOption.h"
#include "io/FormatOption.h"

#include <array>
#include <cstdint>
#include <string>

struct TSystemOption {
  int32_t ProcessorCount = 1;  // logical processors at start-up; not stored
  int32_t MaxThread = 1;       // files converted at once with ParallelProcessing
  // "MaxThread" as chosen (0 automatic), which MaxThread is derived from and
  // which a save writes back, so that "automatic" stays automatic on the next
  // machine. Whoever changes the choice sets this and re-applies the rules.
  int32_t MaxThreadSetting = 0;
  std::array<int32_t, 16> CustomPalette{};  // 0x00BBGGRR each
  bool ParallelProcessing = true;
  bool MemReserve = false;     // kept and stored; nothing to reserve in a 64-bit build
  int32_t MemoryBudgetMB = 0;  // what the files converted at once may use together, MiB; 0 automatic
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

// Conversion modes (items "Normal", "JPEGTran", "画像連結", "リネーム").
enum : int32_t {
  CONVERT_MODE_NORMAL = 0,
  CONVERT_MODE_JPEGTRAN = 1,
  CONVERT_MODE_COMBINE = 2,
  CONVERT_MODE_RENAME = 3,
};

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
