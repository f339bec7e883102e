// The environment dialog "環境設定" without its window: copies of the
// records its six pages edit, the rules that enable its controls, the ranges
// of its numeric fields, the profile choice lists of the colour-management
// page with the check of a chosen profile, and what OK stores. The window
// (EnvOptionForm.h) copies these values into its controls and back.
#pragma once

#include "app/window/options/NumField.h"
#include "batch/ConvertOption.h"
#include "color/ColorManagementOption.h"
#include "effects/RunSettings.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Pages in order; the index is what "EnvOptionPage" remembers.
enum : int32_t {
  ENV_PAGE_SYSTEM = 0,       // "システム"
  ENV_PAGE_FOLDER = 1,       // "出力フォルダ"
  ENV_PAGE_VIEWER = 2,       // "外部ビューア"
  ENV_PAGE_COLOR = 3,        // "カラーマネージメント"
  ENV_PAGE_FILE = 4,         // "ファイル"
  ENV_PAGE_POSTPROCESS = 5,  // "後処理"
  ENV_PAGE_COUNT = 6,
};

// "最大スレッド数" of the system page: 1 to the processor count.
TNumRange MaxThreadRange(int32_t ProcessorCount);
// "連番初期値" of the file page.
inline constexpr TNumRange START_NUMBER_RANGE{0, 99999999, 1, 1};

// The five profile choice lists in the order the page shows them.
enum : int32_t {
  PROFILE_LIST_MONITOR = 0,    // "モニタープロファイル"
  PROFILE_LIST_WORKSPACE = 1,  // "作業用色空間"
  PROFILE_LIST_CMYK = 2,       // "CMYKデフォルト"
  PROFILE_LIST_RGB = 3,        // "RGBデフォルト"
  PROFILE_LIST_GRAY = 4,       // "Grayscaleデフォルト"
  PROFILE_LIST_COUNT = 5,
};

// Profile kinds as ClassifyProfileFile answers them.
enum : int32_t { PROFILE_KIND_RGB = 1, PROFILE_KIND_CMYK = 2, PROFILE_KIND_GRAY = 3 };

inline constexpr const char *PROFILE_KIND_MISMATCH = "カラースペースが一致しません";

struct TProfileList {
  int32_t Kind = PROFILE_KIND_RGB;
  std::vector<std::string> Names;  // what the list shows; entry 0 is the fixed first entry
  std::vector<std::string> Paths;  // full paths, parallel to Names; entry 0 is empty
  int32_t Index = 0;               // the selected entry
  const std::string &SelectedPath() const { return Paths[size_t(Index)]; }
};

// What a profile file chosen with "..." did to its list.
enum class TProfileChoice {
  WrongKind,  // PROFILE_KIND_MISMATCH is shown, nothing changes
  Selected,   // a listed file of that name is selected
  Appended,   // the file joined the list and is selected
};

class TEnvOptionRules {
public:
  // Copies the records in. The template is split into folder and name part,
  // so that the folder page edits the folder alone.
  TEnvOptionRules(const TSystemOption &System, uint32_t Background, const TFileOption &File,
                  const TPreviewOption &Preview, const TColorManagementOption &Color);

  // The copies the controls edit.
  TSystemOption System;
  uint32_t Background;
  TFileOption File;
  std::string NamePart;  // the template without its folder
  TPreviewOption Preview;
  TColorManagementOption Color;
  std::string UserColorProfileDir;  // starts as Color.ColorProfileDir
  std::array<TProfileList, PROFILE_LIST_COUNT> ProfileLists;

  // Enabling rules, applied at opening and whenever the box changes.
  bool ParallelBoxEnabled() const { return System.ProcessorCount > 1; }
  bool ThreadFieldEnabled(bool ParallelChecked) const { return ParallelBoxEnabled() && ParallelChecked; }
  static bool OutputGroupEnabled(bool SameDirectory) { return !SameDirectory; }
  static bool SkipChoicesEnabled(bool NotOverwrite) { return NotOverwrite; }
  static bool CommandEnabled(bool UseExternalTool) { return UseExternalTool; }
  static bool DeleteFileNameEnabled(bool DeleteFile) { return DeleteFile; }

  // Fills the profile lists: the .icc and .icm files (any case) of each of
  // ColorFolders, then of UserColorProfileDir, by file name within a folder,
  // each sorted into the lists of its kind; a file whose name a list already
  // holds, a device link, another colour space or an unreadable file is left
  // out. Then each list selects the entry of its stored path, the first
  // entry when it has none.
  void FillProfileLists(const std::vector<std::string> &ColorFolders);
  // The folder the "..." file dialog opens: UserColorProfileDir, else the
  // first colour folder.
  std::string ProfileDialogFolder(const std::vector<std::string> &ColorFolders) const;
  // A file chosen with "..." of List. A file of the list's kind makes its
  // folder UserColorProfileDir.
  TProfileChoice ChooseProfile(int32_t List, const std::string &Path);

  // "拡張子をチェックする"'s text as stored: without any ".".
  static std::string StoredTargetExt(const std::string &Text);
  // The template the main window shows after OK: the name part alone when
  // the output goes beside the sources, else under the output folder.
  std::string RebuiltTemplate() const;

  // OK: every copy back into the records, the thread counts re-derived
  // from a changed thread choice, the template rebuilt, the chosen profiles
  // and UserColorProfileDir into the colour record.
  void StoreTo(TSystemOption &SystemOut, uint32_t &BackgroundOut, TFileOption &FileOut, TPreviewOption &PreviewOut,
               TColorManagementOption &ColorOut) const;

private:
  int32_t FOpenedMaxThread;
};
