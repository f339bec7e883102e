// The environment dialog's rules: enabling, ranges, profile lists, storing.
#include "app/window/options/EnvOptionRules.h"

#include "color/ICCUtil.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char *FIRST_ENTRY[PROFILE_LIST_COUNT] = {
    "既定のモニタプロファイル", "built-in sRGB Profile", "built-in CMYK Profile", "built-in sRGB Profile",
    "built-in sGray Profile"};
constexpr int32_t LIST_KIND[PROFILE_LIST_COUNT] = {PROFILE_KIND_RGB, PROFILE_KIND_RGB, PROFILE_KIND_CMYK,
                                                   PROFILE_KIND_RGB, PROFILE_KIND_GRAY};

std::string StoredPathOf(const TColorManagementOption &C, int32_t List) {
  switch (List) {
    case PROFILE_LIST_MONITOR: return C.MonitorProfile;
    case PROFILE_LIST_WORKSPACE: return C.WorkSpaceProfile;
    case PROFILE_LIST_CMYK: return C.CMYKProfile;
    case PROFILE_LIST_RGB: return C.RGBProfile;
    default: return C.GrayscaleProfile;
  }
}

bool IsProfileName(const fs::path &P) {
  std::string Ext = P.extension().string();
  std::transform(Ext.begin(), Ext.end(), Ext.begin(), [](unsigned char C) { return char(std::tolower(C)); });
  return Ext == ".icc" || Ext == ".icm";
}

// The profile files of Folder by file name; a missing folder has none.
std::vector<fs::path> ProfileFilesIn(const std::string &Folder) {
  std::vector<fs::path> Files;
  if (Folder.empty()) return Files;
  std::error_code E;
  for (fs::directory_iterator It(Folder, E), End; !E && It != End; It.increment(E))
    if (It->is_regular_file(E) && IsProfileName(It->path())) Files.push_back(It->path());
  std::sort(Files.begin(), Files.end(),
            [](const fs::path &A, const fs::path &B) { return A.filename() < B.filename(); });
  return Files;
}

bool HoldsName(const TProfileList &L, const std::string &Name) {
  return std::find(L.Names.begin() + 1, L.Names.end(), Name) != L.Names.end();
}

int32_t IndexOfName(const TProfileList &L, const std::string &Name) {
  const auto It = std::find(L.Names.begin() + 1, L.Names.end(), Name);
  return It == L.Names.end() ? -1 : int32_t(It - L.Names.begin());
}

void Append(TProfileList &L, const fs::path &P) {
  L.Names.push_back(P.filename().string());
  L.Paths.push_back(P.string());
}

}  // namespace

TNumRange MaxThreadRange(int32_t ProcessorCount) { return {1, std::max(1, ProcessorCount), 1, 1}; }

TEnvOptionRules::TEnvOptionRules(const TSystemOption &System, uint32_t Background, const TFileOption &File,
                                 const TPreviewOption &Preview, const TColorManagementOption &Color)
    : System(System), Background(Background), File(File), Preview(Preview), Color(Color),
      UserColorProfileDir(Color.ColorProfileDir), FOpenedMaxThread(System.MaxThread) {
  const TTemplateSplit Split = SplitTemplate(File);
  this->File.OutputDirectory = Split.Folder.empty() ? std::string() : ExcludeTrailingDelimiter(Split.Folder);
  NamePart = Split.Name;
  for (int32_t i = 0; i < PROFILE_LIST_COUNT; ++i) {
    ProfileLists[size_t(i)].Kind = LIST_KIND[i];
    ProfileLists[size_t(i)].Names = {FIRST_ENTRY[i]};
    ProfileLists[size_t(i)].Paths = {std::string()};
  }
}

void TEnvOptionRules::FillProfileLists(const std::vector<std::string> &ColorFolders) {
  std::vector<std::string> Folders = ColorFolders;
  Folders.push_back(UserColorProfileDir);
  for (const std::string &Folder : Folders)
    for (const fs::path &P : ProfileFilesIn(Folder)) {
      const int32_t Kind = ClassifyProfileFile(P.string());
      for (TProfileList &L : ProfileLists)
        if (L.Kind == Kind && !HoldsName(L, P.filename().string())) Append(L, P);
    }
  for (int32_t i = 0; i < PROFILE_LIST_COUNT; ++i) {
    TProfileList &L = ProfileLists[size_t(i)];
    const std::string Stored = StoredPathOf(Color, i);
    const auto It = std::find(L.Paths.begin() + 1, L.Paths.end(), Stored);
    if (It != L.Paths.end()) {
      L.Index = int32_t(It - L.Paths.begin());
    } else if (!Stored.empty() && ClassifyProfileFile(Stored) == L.Kind) {
      // A profile kept in a folder that is not scanned (chosen from another
      // folder before the last choice moved UserColorProfileDir) is still
      // shown, so that OK does not quietly drop it.
      Append(L, Stored);
      L.Index = int32_t(L.Paths.size() - 1);
    } else {
      L.Index = 0;
    }
  }
}

std::string TEnvOptionRules::ProfileDialogFolder(const std::vector<std::string> &ColorFolders) const {
  if (!UserColorProfileDir.empty()) return UserColorProfileDir;
  return ColorFolders.empty() ? std::string() : ColorFolders.front();
}

TProfileChoice TEnvOptionRules::ChooseProfile(int32_t List, const std::string &Path) {
  TProfileList &L = ProfileLists[size_t(List)];
  if (ClassifyProfileFile(Path) != L.Kind) return TProfileChoice::WrongKind;
  const fs::path P(Path);
  UserColorProfileDir = ExcludeTrailingDelimiter(P.parent_path().string());
  const int32_t Found = IndexOfName(L, P.filename().string());
  if (Found > 0) {
    L.Index = Found;
    return TProfileChoice::Selected;
  }
  Append(L, P);
  L.Index = int32_t(L.Paths.size() - 1);
  return TProfileChoice::Appended;
}

std::string TEnvOptionRules::StoredTargetExt(const std::string &Text) {
  std::string S = Text;
  S.erase(std::remove(S.begin(), S.end(), '.'), S.end());
  return S;
}

std::string TEnvOptionRules::RebuiltTemplate() const {
  if (File.SameDirectory) return NamePart;
  return IncludeTrailingDelimiter(File.OutputDirectory) + NamePart;
}

void TEnvOptionRules::StoreTo(TSystemOption &SystemOut, uint32_t &BackgroundOut, TFileOption &FileOut,
                              TPreviewOption &PreviewOut, TColorManagementOption &ColorOut) const {
  SystemOut = System;
  // A thread count left as it was keeps its stored choice ("automatic"
  // stays automatic); a changed one becomes the choice. Either way the
  // rules of reading apply, so parallel processing needs two threads.
  const int32_t Choice = System.MaxThread != FOpenedMaxThread ? System.MaxThread : System.MaxThreadSetting;
  ApplySystemThreadRules(SystemOut, Choice, System.ParallelProcessing);
  BackgroundOut = Background & 0xFFFFFF;

  FileOut = File;
  FileOut.TargetExt = StoredTargetExt(File.TargetExt);
  // The look-up list of the extension check is built from TargetExt where it
  // is used (TargetExtContains), so there is nothing else to rebuild.
  FileOut.FileNameFormat = RebuiltTemplate();

  PreviewOut = Preview;

  ColorOut = Color;
  ColorOut.MonitorProfile = ProfileLists[PROFILE_LIST_MONITOR].SelectedPath();
  ColorOut.WorkSpaceProfile = ProfileLists[PROFILE_LIST_WORKSPACE].SelectedPath();
  ColorOut.CMYKProfile = ProfileLists[PROFILE_LIST_CMYK].SelectedPath();
  ColorOut.RGBProfile = ProfileLists[PROFILE_LIST_RGB].SelectedPath();
  ColorOut.GrayscaleProfile = ProfileLists[PROFILE_LIST_GRAY].SelectedPath();
  ColorOut.ColorProfileDir = UserColorProfileDir;
}
