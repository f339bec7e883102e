// Colour-space conversion (色空間変換): the picture converted into a chosen
// output profile (a built-in one or a profile file, whose bytes go with the
// picture so that writers embed it), optionally with its alpha flattened
// onto the background; and the window-free rules of its dialog's profile
// list.
#pragma once

#include "effects/Effect.h"

#include <cstdint>
#include <string>
#include <vector>

class TColorSpaceConvertEffect : public TEffect {
public:
  TColorSpaceConvertEffect();

  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;

  std::string FOutputProfileName = "built-in sGray Profile";
  int32_t FRenderingIntent = 0;  // 0 知覚的, 1 相対的, 2 彩度, 3 絶対的
  LongBool FRemoveAlpha = LongFalse;
  bool FPreview = true;
  bool FHistogram = true;
};

// One entry of the dialog's "出力色空間" list: the name shown and the
// profile it stands for (a built-in name or a file path).
struct TProfileChoice {
  std::string Name;
  std::string Path;
  bool operator==(const TProfileChoice &) const = default;
};

// "built-in sGray Profile", the gray profile files, "built-in sRGB Profile",
// the RGB profile files: the files with extension .icc or .icm (any case) in
// Folders (each ending in "/"), each list in file-name order; profiles of
// other classes, and files that are no profile, are left out.
std::vector<TProfileChoice> ColorSpaceChoices(const std::vector<std::string> &Folders);

// The index of Current in Choices; a profile not listed is appended under
// its file name first.
size_t SelectProfileChoice(std::vector<TProfileChoice> &Choices, const std::string &Current);

// The folder the "..." file dialog opens: ColorProfileDir, or the program
// folder when that is empty.
std::string ProfileDialogFolder(const std::string &ColorProfileDir, const std::string &ProgramFolder);

// A file chosen with "...": a listed one is selected; a new RGB or gray
// profile is appended and selected; any other answers Warning
// "RGB,Grayscale以外のプロファイルは選択出来ません" (title "TessivoPlus") and
// selects nothing. A file outside the program folder makes its folder the
// new ColorProfileDir, whatever the profile is.
struct TProfileFileChoice {
  int64_t Selected = -1;
  std::string Warning;
};
TProfileFileChoice ChooseProfileFile(std::vector<TProfileChoice> &Choices, const std::string &Path,
                                     const std::string &ProgramFolder, std::string &ColorProfileDir);
inline constexpr const char *PROFILE_CLASS_WARNING = "RGB,Grayscale以外のプロファイルは選択出来ません";
