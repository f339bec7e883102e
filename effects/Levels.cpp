// Levels: the per-channel tables (plain and linear light), the automatic
// ranges from the histogram, the effect and its presets.
#include "effects/Levels.h"

#include "color/ICCUtil.h"
#include "core/Errors.h"
#include "core/IniFile.h"
#include "core/PixelConvertMT.h"
#include "effects/Presets.h"
#include "effects/RunSettings.h"
#include "effects/ToneTable.h"

#include <algorithm>
#include <cmath>
#include <memory>

bool TLevelsChannel::IsIdentity() const {
  return InputMin == 0 && InputMax == 255 && ShadowOut == 0 && HighlightOut == 255 && RoundHalfUp(Gamma * 1000) == 1000;
}

void FillLevelsTable(std::span<int16_t> Table, int32_t N, const TLevelsChannel &C,
                     const std::function<double(double)> &Lin, const std::function<int32_t(double)> &Enc) {
  const int32_t scale = N == 255 ? 1 : 64;
  const int32_t B = C.InputMin * scale, W = C.InputMax * scale;
  const int32_t lo = C.ShadowOut * 64, hi = C.HighlightOut * 64;
  // A gamma that is not a positive number (a hand-edited profile) is 1.
  const long double inv = C.Gamma > 0 && std::isfinite(C.Gamma) ? 1.0L / C.Gamma : 1.0L;
  const bool linear = Lin && Enc;
  float ls = 0, lt = 0, lb = 0, lw = 0;
  if (linear) {
    ls = float(Lin(C.ShadowOut / 255.0)), lt = float(Lin(C.HighlightOut / 255.0));
    lb = float(Lin(C.InputMin / 255.0)), lw = float(Lin(C.InputMax / 255.0));
  }
  for (int32_t i = 0; i <= N; ++i) {
    int32_t v;
    if (i <= B) {
      v = lo;
    } else if (i >= W) {
      v = hi;
    } else if (linear) {
      const float li = float(Lin(double(i) / N));
      const double f = double(std::pow((long double)((li - lb) / (lw - lb)), inv));
      v = std::isfinite(f) ? Enc(ls + (lt - ls) * f) : lo;
    } else {
      const double f = double(std::pow((long double)(i - B) / (W - B), inv));
      v = RoundHalfUp(f * (hi - lo) + lo);
    }
    Table[size_t(i)] = int16_t(std::clamp(v, 0, FULL_SCALE_14));
  }
}

TLevelsRange AutoLevelsRange(std::span<const uint32_t> H, uint64_t Total, uint32_t ClipShadow, uint32_t ClipHighlight) {
  TLevelsRange r{255, 0};
  if (!Total) return {0, 255};
  const double cs = ClipShadow / 100.0, ch = ClipHighlight / 100.0;
  uint64_t sum = 0;
  for (int32_t i = 0; i < 256; ++i) {
    sum += H[size_t(i)];
    if (100.0 * double(sum) / double(Total) > cs) {
      r.Black = i;
      break;
    }
  }
  sum = 0;
  for (int32_t i = 255; i >= 0; --i) {
    sum += H[size_t(i)];
    if (100.0 * double(sum) / double(Total) > ch) {
      r.White = i;
      break;
    }
  }
  return r;
}

// ---------------------------------------------------------------------------
// TLevelsAdjust

TLevelsAdjust::TLevelsAdjust() : TEffect(EFFECT_LEVELS) {}

TLevelsChannel TLevelsAdjust::Channel(int32_t i) const {
  const size_t k = size_t(i);
  return {FInputMin[k], FInputMax[k], FGamma[k], FShadowOut[k], FHighlightOut[k]};
}

namespace {

// The table makers of linear light for one channel of Img's profile (Channel
// as TGammaInfo numbers it: 0 blue, 1 green, 2 red, 3 gray); empty without.
struct TLinearLight {
  std::unique_ptr<TGammaInfo> Gamma;
  std::function<double(double)> Lin;
  std::function<int32_t(double)> Enc;
};

TLinearLight LinearLight(const TICCImgInfo &Img, int32_t Channel) {
  TLinearLight l;
  l.Gamma = std::make_unique<TGammaInfo>(Img);
  l.Gamma->SetChannel(Channel);
  const TGammaInfo *g = l.Gamma.get();
  l.Lin = [g](double v) { return g->GetDegammaValue(v); };
  l.Enc = [g](double v) { return g->GetRegammaValue(FULL_SCALE_14, v); };
  return l;
}

uint64_t PixelCount(const TICCImgInfo &Img) { return uint64_t(Img.Width) * Img.Height; }

}  // namespace

void TLevelsAdjust::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  if (Img.BPP == BPP_16) Convert16To14(Img);
  const bool labMode = FLab && Params.Settings && Params.Settings->System.EnabledLabMode;
  const bool gray = Img.Channels < 3 || Img.IsGrayAlpha;
  std::array<TLevelsChannel, 4> ch;
  for (int32_t i = 0; i < 4; ++i) ch[size_t(i)] = Channel(i);
  bool master = !ch[0].IsIdentity();
  bool perChannel = !gray && !(ch[1].IsIdentity() && ch[2].IsIdentity() && ch[3].IsIdentity());

  THistogramCounts h{};
  if (FAutoMode == 1) {
    if (labMode) {
      TTransForm own;
      TTransForm *t = Params.ColorTransform ? Params.ColorTransform : &own;
      if (!t->InitToLab8(Img)) throw ETessivoError("Lab色空間への変換を作成できません");
      CalcHistogram(Img, h, 4, t, Params.MT);
      std::copy_n(h.begin() + HIST_L, 256, h.begin());
    } else if (gray) {
      CalcHistogram(Img, h, 0, nullptr, Params.MT);
    } else {
      TICCImgInfo luma{};
      MakeLumaImage(Img, luma);
      CalcHistogram(luma, h, 0, nullptr, Params.MT);
      FreeICCImgInfo(luma, false);
    }
    const TLevelsRange r = AutoLevelsRange(std::span(h).first(256), PixelCount(Img), FClipShadow, FClipHighlight);
    ch[0].InputMin = r.Black, ch[0].InputMax = r.White;
    master = true;
    perChannel = false;
  } else if (FAutoMode == 2 || FAutoMode == 3) {
    master = false;
    perChannel = !gray;
    if (perChannel) {
      CalcHistogram(Img, h, 1, nullptr, Params.MT);
      // Channels 1, 2, 3 are red, green, blue; the histogram holds blue, green, red.
      const uint32_t start[4] = {0, HIST_RED, HIST_GREEN, HIST_BLUE};
      TLevelsRange common{255, 0};
      for (size_t c = 1; c < 4; ++c) {
        const TLevelsRange r =
            AutoLevelsRange(std::span(h).subspan(start[c], 256), PixelCount(Img), FClipShadow, FClipHighlight);
        ch[c].InputMin = r.Black, ch[c].InputMax = r.White;
        common.Black = std::min(common.Black, r.Black), common.White = std::max(common.White, r.White);
      }
      if (FAutoMode == 3)
        for (size_t c = 1; c < 4; ++c) ch[c].InputMin = common.Black, ch[c].InputMax = common.White;
    }
  }

  const bool wide = Img.BPP != BPP_8;
  if (master) {
    std::vector<int16_t> t(LUT14_ENTRIES);
    if (labMode) {
      FillLevelsTable(t, FULL_SCALE_14, ch[0]);
      ApplyLightnessTable(Img, t, Params.ColorTransform, Params.MT);
      return;
    }
    TLinearLight l;
    if (FDegamma) l = LinearLight(Img, 3);
    const bool eightBitGray = !wide && Img.Channels == 1;
    FillLevelsTable(std::span(t).first(eightBitGray ? 256 : LUT14_ENTRIES), eightBitGray ? 255 : FULL_SCALE_14, ch[0],
                    l.Lin, l.Enc);
    if (eightBitGray) {
      ApplyGrayLUT8To14(Img, t, Params.MT);
      return;
    }
    if (Img.Channels >= 3)
      ApplyYCCStages(Img, {t, {}, {}}, Params.MT);
    else
      ApplyLUT14Channel0(Img, t, Params.MT);
    return;
  }
  if (!perChannel) return;

  const int32_t N = wide ? FULL_SCALE_14 : 255;
  const size_t stride = size_t(N) + 1;
  std::vector<int16_t> set(wide ? LUT14_SIZE : LUT8_SIZE);
  // Slot 0 blue, 1 green, 2 red: channels 3, 2, 1; the profile curves are numbered the same way.
  for (int32_t slot = 0; slot < 3; ++slot) {
    TLinearLight l;
    if (FDegamma && !labMode) l = LinearLight(Img, slot);
    FillLevelsTable(std::span(set).subspan(size_t(slot) * stride, stride), N, ch[size_t(3 - slot)], l.Lin, l.Enc);
  }
  for (size_t i = 0; i < stride; ++i) set[3 * stride + i] = int16_t(wide ? i : i * 64);
  if (wide)
    ApplyLUT14(Img, set, Params.MT);
  else
    ApplyLUT8To14(Img, set, Params.MT);
}

namespace {

std::string IndexedKey(const char *Name, int32_t i) { return Name + std::to_string(i); }

}  // namespace

void TLevelsAdjust::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  const std::string &s = FSectionName;
  for (int32_t i = 0; i < 4; ++i) {
    const size_t k = size_t(i);
    FInputMin[k] = Ini.ReadInteger(s, IndexedKey("InputMin", i), 0);
    FInputMax[k] = Ini.ReadInteger(s, IndexedKey("InputMax", i), 255);
    FShadowOut[k] = Ini.ReadInteger(s, IndexedKey("ShadowOut", i), 0);
    FHighlightOut[k] = Ini.ReadInteger(s, IndexedKey("HighlightOut", i), 255);
    FGamma[k] = Ini.ReadFloat(s, IndexedKey("Gamma", i), 1.0);
  }
  FAutoMode = uint32_t(Ini.ReadInteger(s, "AutoMode", 0));
  FClipShadow = uint32_t(Ini.ReadInteger(s, "ClipShadow", 10));
  FClipHighlight = uint32_t(Ini.ReadInteger(s, "ClipHighlight", 10));
  FDegamma = Ini.ReadBool(s, "Degamma", false);
  FLab = Ini.ReadBool(s, "Lab", false);
  const int32_t h = Ini.ReadInteger(s, "Histogram", 0);
  FHistogram = h < 2;
  FHistogramType = uint32_t(h >= 2 ? h - 2 : h);
  FPreview = Ini.ReadBool(s, "Preview", true);
}

void TLevelsAdjust::WriteLevelKeys(TMemIniFile &Ini, const std::string &s) const {
  Ini.WriteBool(s, "Degamma", FDegamma);
  Ini.WriteInteger(s, "AutoMode", int32_t(FAutoMode));
  Ini.WriteInteger(s, "ClipShadow", int32_t(FClipShadow));
  Ini.WriteInteger(s, "ClipHighlight", int32_t(FClipHighlight));
  Ini.WriteBool(s, "Lab", FLab);
  for (int32_t i = 0; i < 4; ++i) {
    const size_t k = size_t(i);
    Ini.WriteInteger(s, IndexedKey("InputMin", i), FInputMin[k]);
    Ini.WriteInteger(s, IndexedKey("InputMax", i), FInputMax[k]);
    Ini.WriteInteger(s, IndexedKey("ShadowOut", i), FShadowOut[k]);
    Ini.WriteInteger(s, IndexedKey("HighlightOut", i), FHighlightOut[k]);
    Ini.WriteFloat(s, IndexedKey("Gamma", i), FGamma[k]);
  }
}

void TLevelsAdjust::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  WriteLevelKeys(Ini, FSectionName);
  Ini.WriteInteger(FSectionName, "Histogram", int32_t(FHistogramType) + (FHistogram ? 0 : 2));
  Ini.WriteBool(FSectionName, "Preview", FPreview);
}

void TLevelsAdjust::SavePreset(const std::string &FileName) const {
  TMemIniFile ini(FileName);
  WriteLevelKeys(ini, "Levels");
  ini.UpdateFile();
}

void TLevelsAdjust::LoadPreset(const std::string &FileName) {
  const TMemIniFile ini = OpenPresetFile(FileName, "Levels");
  const std::string s = "Levels";
  // Every key that is present must be a number in its range; absent keys take their defaults.
  auto integer = [&](const std::string &Key, int32_t Default, int32_t Lo, int32_t Hi) {
    if (!ini.ValueExists(s, Key)) return Default;
    const std::string text = ini.ReadString(s, Key, "");
    double v;
    if (!TryParseDecimal(text, v) || v != std::floor(v) || v < Lo || v > Hi)
      throw ETessivoError(PresetError(FileName, Key, text));
    return int32_t(v);
  };
  auto real = [&](const std::string &Key) {
    if (!ini.ValueExists(s, Key)) return 1.0;
    const std::string text = ini.ReadString(s, Key, "");
    double v;
    if (!TryParseDecimal(text, v) || !(v > 0) || v > 10) throw ETessivoError(PresetError(FileName, Key, text));
    return v;
  };
  TLevelsAdjust next;
  next.FDegamma = integer("Degamma", 0, 0, 1) != 0;
  next.FAutoMode = uint32_t(integer("AutoMode", 0, 0, 3));
  next.FClipShadow = uint32_t(integer("ClipShadow", 10, 0, 10000));
  next.FClipHighlight = uint32_t(integer("ClipHighlight", 10, 0, 10000));
  next.FLab = integer("Lab", 0, 0, 1) != 0;
  for (int32_t i = 0; i < 4; ++i) {
    const size_t k = size_t(i);
    next.FInputMin[k] = integer(IndexedKey("InputMin", i), 0, 0, 255);
    next.FInputMax[k] = integer(IndexedKey("InputMax", i), 255, 0, 255);
    next.FShadowOut[k] = integer(IndexedKey("ShadowOut", i), 0, 0, 255);
    next.FHighlightOut[k] = integer(IndexedKey("HighlightOut", i), 255, 0, 255);
    next.FGamma[k] = real(IndexedKey("Gamma", i));
  }
  FDegamma = next.FDegamma, FAutoMode = next.FAutoMode, FClipShadow = next.FClipShadow;
  FClipHighlight = next.FClipHighlight, FLab = next.FLab;
  FInputMin = next.FInputMin, FInputMax = next.FInputMax, FShadowOut = next.FShadowOut;
  FHighlightOut = next.FHighlightOut, FGamma = next.FGamma;
}
