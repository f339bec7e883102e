// Colour-space conversion and the rules of its profile list.
#include "effects/ColorSpaceConvertEffect.h"

#include "color/ICCUtil.h"
#include "core/IniFile.h"
#include "core/PixelConvert.h"
#include "effects/RunSettings.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool IsBuiltIn(const std::string &Name) { return Name == TARGET_BUILTIN_SRGB || Name == TARGET_BUILTIN_SGRAY; }

bool HasProfileExtension(const fs::path &P) {
  std::string e = P.extension().string();
  std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return e == ".icc" || e == ".icm";
}

constexpr int32_t PROFILE_CLASS_RGB = 1, PROFILE_CLASS_GRAY = 3;

}  // namespace

TColorSpaceConvertEffect::TColorSpaceConvertEffect() : TEffect(EFFECT_COLOR_SPACE_CONVERT) {}

void TColorSpaceConvertEffect::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  const std::string &s = FSectionName;
  FOutputProfileName = Ini.ReadString(s, "OutputProfile", TARGET_BUILTIN_SGRAY);
  FRenderingIntent = std::clamp(Ini.ReadInteger(s, "RenderingIntent", 0), 0, 3);
  FRemoveAlpha = Ini.ReadBool(s, "RemoveAlpha", false) ? LongTrue : LongFalse;
  FPreview = Ini.ReadBool(s, "Preview", true);
  FHistogram = Ini.ReadBool(s, "Histogram", true);
  // A profile file that has gone since the settings were saved.
  std::error_code ec;
  if (!IsBuiltIn(FOutputProfileName) && !fs::is_regular_file(FOutputProfileName, ec))
    FOutputProfileName = TARGET_BUILTIN_SGRAY;
}

void TColorSpaceConvertEffect::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  const std::string &s = FSectionName;
  Ini.WriteString(s, "OutputProfile", FOutputProfileName);
  Ini.WriteInteger(s, "RenderingIntent", FRenderingIntent);
  Ini.WriteBool(s, "RemoveAlpha", FRemoveAlpha != LongFalse);
  Ini.WriteBool(s, "Preview", FPreview);
  Ini.WriteBool(s, "Histogram", FHistogram);
}

void TColorSpaceConvertEffect::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  const bool Enabled = Params.Settings ? Params.Settings->ColorManagement.Enabled != 0 : CMS.Enabled();
  if (!Enabled || !Img.Mem) return;
  TTransForm Own;
  TTransForm *T = Params.ColorTransform ? Params.ColorTransform : &Own;
  if (T->InitTo(Img, FOutputProfileName, FRenderingIntent, false)) T->DoTransform(Img);
  if (FRemoveAlpha && (Img.Channels == 4 || Img.IsGrayAlpha)) {
    const uint32_t Background = Params.Settings ? Params.Settings->Formats.Background : 0xFFFFFF;
    FlattenAlpha(Img, Background, BackgroundColorInto(T));
  }
}

std::vector<TProfileChoice> ColorSpaceChoices(const std::vector<std::string> &Folders) {
  std::vector<TProfileChoice> Gray, Rgb;
  for (const std::string &Folder : Folders) {
    std::error_code ec;
    std::vector<fs::path> Files;
    for (const auto &E : fs::directory_iterator(Folder, ec))
      if (E.is_regular_file(ec) && HasProfileExtension(E.path())) Files.push_back(E.path());
    std::sort(Files.begin(), Files.end());
    for (const fs::path &F : Files) {
      const int32_t Class = ClassifyProfileFile(F.string());
      if (Class == PROFILE_CLASS_GRAY) Gray.push_back({F.filename().string(), F.string()});
      if (Class == PROFILE_CLASS_RGB) Rgb.push_back({F.filename().string(), F.string()});
    }
  }
  std::vector<TProfileChoice> All{{TARGET_BUILTIN_SGRAY, TARGET_BUILTIN_SGRAY}};
  All.insert(All.end(), Gray.begin(), Gray.end());
  All.push_back({TARGET_BUILTIN_SRGB, TARGET_BUILTIN_SRGB});
  All.insert(All.end(), Rgb.begin(), Rgb.end());
  return All;
}

size_t SelectProfileChoice(std::vector<TProfileChoice> &Choices, const std::string &Current) {
  for (size_t i = 0; i < Choices.size(); ++i)
    if (Choices[i].Path == Current) return i;
  Choices.push_back({fs::path(Current).filename().string(), Current});
  return Choices.size() - 1;
}

std::string ProfileDialogFolder(const std::string &ColorProfileDir, const std::string &ProgramFolder) {
  return ColorProfileDir.empty() ? ProgramFolder : ColorProfileDir;
}

TProfileFileChoice ChooseProfileFile(std::vector<TProfileChoice> &Choices, const std::string &Path,
                                     const std::string &ProgramFolder, std::string &ColorProfileDir) {
  const fs::path Folder = fs::path(Path).parent_path();
  const std::string Program = fs::path(ProgramFolder).lexically_normal().string();
  const std::string Chosen = Folder.lexically_normal().string();
  if (!(Chosen == Program || Chosen.starts_with(Program + "/"))) ColorProfileDir = Folder.string();
  TProfileFileChoice R;
  for (size_t i = 0; i < Choices.size(); ++i)
    if (Choices[i].Path == Path) {
      R.Selected = int64_t(i);
      return R;
    }
  const int32_t Class = ClassifyProfileFile(Path);
  if (Class != PROFILE_CLASS_RGB && Class != PROFILE_CLASS_GRAY) {
    R.Warning = PROFILE_CLASS_WARNING;
    return R;
  }
  Choices.push_back({fs::path(Path).filename().string(), Path});
  R.Selected = int64_t(Choices.size() - 1);
  return R;
}
