// The noise-removal step.
#include "effects/DenoiseEffect.h"

#include "core/Errors.h"
#include "core/IniFile.h"
#include "core/PixelConvert.h"
#include "core/PixelConvertMT.h"
#include "effects/RunSettings.h"

#include <algorithm>

namespace {

struct TPresetRow {
  int32_t Lv[5];
  int32_t LSigma2, LRadius, CStrength, CSigma2, CRadius;
};

constexpr TPresetRow Presets[16] = {
    {{20, 5, 5, 5, 5}, 30, 1, 25, 30, 1},     {{25, 6, 5, 5, 5}, 30, 1, 30, 30, 1},
    {{30, 7, 5, 5, 5}, 40, 1, 30, 40, 1},     {{30, 8, 5, 5, 5}, 50, 1, 40, 50, 1},
    {{30, 9, 6, 6, 6}, 50, 2, 40, 50, 2},     {{35, 10, 6, 6, 6}, 50, 2, 45, 50, 2},
    {{40, 12, 6, 6, 6}, 50, 2, 50, 50, 2},    {{40, 14, 6, 6, 6}, 50, 3, 50, 50, 3},
    {{40, 16, 7, 6, 7}, 50, 4, 50, 50, 4},    {{42, 18, 7, 8, 7}, 60, 4, 52, 60, 4},
    {{45, 20, 10, 10, 7}, 75, 4, 55, 75, 4},  {{50, 22, 13, 12, 7}, 90, 4, 60, 90, 4},
    {{52, 24, 16, 14, 9}, 90, 4, 62, 90, 4},  {{54, 26, 19, 16, 11}, 90, 4, 64, 90, 4},
    {{56, 28, 22, 18, 13}, 90, 4, 66, 90, 4}, {{58, 30, 25, 20, 15}, 90, 4, 68, 90, 4},
};

const char *const LevelKeys[6] = {"Lv0Sigma", "Lv1Sigma", "Lv2Sigma", "Lv3Sigma", "Lv4Sigma", "ChromaSigma"};

}  // namespace

TDenoiseValues DenoisePreset(int32_t Str) {
  const TPresetRow &p = Presets[size_t(std::clamp(Str, 1, 16) - 1)];
  TDenoiseValues v;
  for (size_t i = 0; i < 5; ++i) v.Level[i] = p.Lv[i];
  v.LumaSigma2 = p.LSigma2, v.LumaRadius = p.LRadius;
  v.ChromaStrength = p.CStrength, v.ChromaSigma2 = p.CSigma2, v.ChromaRadius = p.CRadius;
  return v;
}

TDenoiseEffect::TDenoiseEffect() : TEffect(EFFECT_DENOISE) {}

TDenoiseValues TDenoiseEffect::Values() const { return FAdvancedSetting ? AdvancedValues() : DenoisePreset(FStr); }

TDenoiseValues TDenoiseEffect::AdvancedValues() const {
  TDenoiseValues v;
  for (size_t i = 0; i < 5; ++i) v.Level[i] = FSigma[i];
  v.LumaSigma2 = FSigma2[0], v.LumaRadius = FRadius[0];
  v.ChromaStrength = FSigma[5], v.ChromaSigma2 = FSigma2[1], v.ChromaRadius = FRadius[1];
  return v;
}

void TDenoiseEffect::SetAdvancedValues(const TDenoiseValues &V) {
  for (size_t i = 0; i < 5; ++i) FSigma[i] = V.Level[i];
  FSigma[5] = V.ChromaStrength;
  FSigma2 = {V.LumaSigma2, V.ChromaSigma2};
  FRadius = {V.LumaRadius, V.ChromaRadius};
}

void TDenoiseEffect::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  if (Img.Channels != 1 && Img.Channels != 3) return;
  if (!DenoiseAvailable()) throw ETessivoError("ノイズ除去: LoadLibrary Error: libdenoise.so is not usable");
  if (Img.BPP == BPP_16) Convert16To14(Img);
  const bool useAVX = !Params.Settings || Params.Settings->System.UseAVX != LongFalse;
  const TDenoiseIsa isa = DenoiseIsaFor(useAVX);
  if (Img.Channels == 1) {
    DenoisePass(Img, Values(), Params.MT, isa);
    return;
  }
  ConvertToYCC14(Img, Params.MT);
  try {
    DenoisePass(Img, Values(), Params.MT, isa);
  } catch (...) {
    ConvertFromYCC14(Img, Params.MT);
    throw;
  }
  ConvertFromYCC14(Img, Params.MT);
}

void TDenoiseEffect::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  const std::string &s = FSectionName;
  const TDenoiseEffect d;
  for (size_t i = 0; i < 6; ++i) FSigma[i] = std::clamp(Ini.ReadInteger(s, LevelKeys[i], d.FSigma[i]), 1, 100);
  FSigma2[0] = std::clamp(Ini.ReadInteger(s, "LumaSigma2", d.FSigma2[0]), 1, 100);
  FSigma2[1] = std::clamp(Ini.ReadInteger(s, "ChromaSigma2", d.FSigma2[1]), 1, 100);
  FRadius[0] = std::clamp(Ini.ReadInteger(s, "LumaRadius", d.FRadius[0]), 1, 4);
  FRadius[1] = std::clamp(Ini.ReadInteger(s, "ChromaRadius", d.FRadius[1]), 1, 4);
  FAdvancedSetting = Ini.ReadBool(s, "AdvancedSetting", true) ? LongTrue : LongFalse;
  FStr = std::clamp(Ini.ReadInteger(s, "Str", d.FStr), 1, 16);
  FPreview = Ini.ReadBool(s, "Preview", true) ? LongTrue : LongFalse;
}

void TDenoiseEffect::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  const std::string &s = FSectionName;
  for (size_t i = 0; i < 6; ++i) Ini.WriteInteger(s, LevelKeys[i], FSigma[i]);
  Ini.WriteInteger(s, "LumaSigma2", FSigma2[0]);
  Ini.WriteInteger(s, "ChromaSigma2", FSigma2[1]);
  Ini.WriteInteger(s, "LumaRadius", FRadius[0]);
  Ini.WriteInteger(s, "ChromaRadius", FRadius[1]);
  Ini.WriteBool(s, "AdvancedSetting", FAdvancedSetting != LongFalse);
  Ini.WriteInteger(s, "Str", FStr);
  Ini.WriteBool(s, "Preview", FPreview != LongFalse);
}
