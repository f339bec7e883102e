// Text overlay: placeholders, placement, box, shadow, glow and text.
#include "effects/AddTextEffect.h"

#include "color/ICCUtil.h"
#include "core/Errors.h"
#include "core/IniFile.h"
#include "core/PixelConvert.h"
#include "effects/MaskBlend.h"
#include "effects/TextTemplate.h"
#include "io/ImageProbe.h"
#include "resample/WeightedMean.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

std::string FileNamePart(const std::string &Path) {
  const size_t slash = Path.find_last_of('/');
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

void ReplaceAll(std::string &S, const std::string &From, const std::string &To) {
  for (size_t pos = 0; (pos = S.find(From, pos)) != std::string::npos; pos += To.size())
    S.replace(pos, From.size(), To);
}

// Line breaks are stored as the two characters "\n" and held as CR LF.
std::string StoredToText(std::string S) {
  ReplaceAll(S, "\\n", "\r\n");
  return S;
}
std::string TextToStored(std::string S) {
  ReplaceAll(S, "\r\n", "\\n");
  ReplaceAll(S, "\r", "\\n");
  ReplaceAll(S, "\n", "\\n");
  return S;
}

// The older "Position" key had four corners: top left, bottom left, top right, bottom right.
int32_t AnchorOfOlderPosition(int32_t V) {
  switch (V) {
    case 0: return 0;
    case 1: return 2;
    case 2: return 6;
    default: return 8;
  }
}

// An empty 1-channel 8-bit mask of w x h.
void NewMask(TICCImgInfo &M, uint32_t W, uint32_t H, uint8_t Value) {
  M.Width = W, M.Height = H, M.Channels = 1, M.BPP = BPP_8, M.PixelFormat = PIXFMT_GRAY;
  M.Bpl = GetAlignedBpl(W, 1);
  M.Mem = AllocPixelBlock(M.Bpl, H);
  if (Value)
    for (uint32_t y = 0; y < H; ++y) std::fill_n(ScanLine(M, y), W, Value);
}

// Takes the glyphs out of B: the text mask M lies at (Dx, Dy) of B, and
// each byte b under a text byte m becomes b x (255 - m) / 255.
void KnockOut(TICCImgInfo &B, const TICCImgInfo &M, int32_t Dx, int32_t Dy) {
  const int64_t x0 = std::max<int64_t>(0, Dx), x1 = std::min<int64_t>(B.Width, int64_t(Dx) + M.Width);
  const int64_t y0 = std::max<int64_t>(0, Dy), y1 = std::min<int64_t>(B.Height, int64_t(Dy) + M.Height);
  for (int64_t y = y0; y < y1; ++y) {
    uint8_t *b = PictureRow(B, uint32_t(y));
    const uint8_t *m = PictureRow(M, uint32_t(y - Dy)) - Dx;
    for (int64_t x = x0; x < x1; ++x) b[x] = uint8_t(((255 - m[x]) * b[x] * 257 + 32639) >> 16);
  }
}

// A copy of M blurred by the worker's engine, the glyphs knocked out at (Dx, Dy).
void BlurredHalo(const TICCImgInfo &M, TEffectParams &Params, double Radius, int32_t Str, int32_t Dx, int32_t Dy,
                 TICCImgInfo &B) {
  if (!Params.GaussianBlur) throw ETessivoError("ぼかし処理が初期化されていません");
  CopyICCImgInfo(M, B, false);
  Params.GaussianBlur->SetGauusianBlurParam(Radius);
  Params.GaussianBlur->DoGauusianBlur(B, Str * 64, Params.MT);
  KnockOut(B, M, Dx, Dy);
}

}  // namespace

void WriteAddTextParam(std::vector<uint8_t> &S, const TAddTextParam &P) {
  const size_t start = S.size();
  for (int32_t v : {P.Position, P.XOffset, P.YOffset, P.FontOpacity, P.BackColor, P.BackOpacity, P.MarginX, P.MarginY})
    StreamWriteInt32(S, v);
  StreamWriteDouble(S, P.LinePitch);
  for (int32_t v : {P.Shadow, P.ShadowColor, P.ShadowOpacity, 0}) StreamWriteInt32(S, v);
  StreamWriteDouble(S, P.ShadowRadius);
  for (int32_t v : {P.ShadowStr, P.ShadowOffsetX, P.ShadowOffsetY, P.Glow, P.GlowColor, P.GlowOpacity})
    StreamWriteInt32(S, v);
  StreamWriteDouble(S, P.GlowRadius);
  for (int32_t v : {P.GlowStr, 0}) StreamWriteInt32(S, v);
  if (S.size() - start != sizeof(TAddTextParam)) throw ETessivoError("文字入れの設定の長さが正しくありません");
}

void AnchorPosition(int32_t Anchor, int32_t W, int32_t H, int32_t w, int32_t h, int32_t OffsetX, int32_t OffsetY,
                    int32_t &X, int32_t &Y) {
  const auto place = [](int32_t Slot, int64_t Outer, int64_t Inner) -> int64_t {
    if (Slot == 1) return (Outer - Inner) / 2;  // C++ division truncates toward zero, like div
    if (Slot == 2) return Outer - Inner;
    return 0;
  };
  const int32_t a = std::clamp(Anchor, 0, 8);
  X = int32_t(std::clamp<int64_t>(int64_t(OffsetX) + place(a / 3, W, w), INT32_MIN, INT32_MAX));
  Y = int32_t(std::clamp<int64_t>(int64_t(OffsetY) + place(a % 3, H, h), INT32_MIN, INT32_MAX));
}

std::string ExpandedOverlayText(const std::string &Text, const TEffectParams &Params) {
  std::string T = Text;
  const int32_t start = ParseStartNumber(T, Params.Settings ? Params.Settings->File : TFileOption{});
  const int32_t number = int32_t(std::clamp<int64_t>(int64_t(start) + Params.Number, INT32_MIN, INT32_MAX));
  return ExpandTextTemplate(T, FileNamePart(Params.OutFileName), FileNamePart(Params.InFileName), number,
                            Params.Time);
}

TTextMargins TextMargins(const TAddTextParam &P) {
  double pad = 0;
  if (P.Glow) pad += std::ceil(P.GlowRadius + 0.5);
  if (P.Shadow) pad += std::ceil(P.ShadowRadius + 0.5);
  const double x = std::max(0.0, P.MarginX + pad), y = std::max(0.0, P.MarginY + pad);
  return {x, y, x, y};
}

TAddTextEffect::TAddTextEffect() : TEffect(EFFECT_ADD_TEXT) {}

TTextBlock TAddTextEffect::PlaceTextBlock(int32_t W, int32_t H, TEffectParams &Params) const {
  TTextBlock block;
  const std::string text = ExpandedOverlayText(FText, Params);
  if (text.empty()) return block;
  if (!Params.FontCache) Params.FontCache = std::make_shared<TFontCache>();
  const TTextMargins m = TextMargins(FParam);
  Params.FontCache->GetAntialiasingText(text, FFont, Params.MT, Params.Antialiasing, m.Bottom, m.Right, m.Top, m.Left,
                                        FParam.LinePitch, *block.Mask);
  for (const std::string &notice : Params.FontCache->TakeNotices())
    PutFileWarning(Params.InFileName.empty() ? FSectionName : Params.InFileName, notice);
  const TICCImgInfo &M = *block.Mask;
  AnchorPosition(FParam.Position, W, H, int32_t(M.Width), int32_t(M.Height), FParam.XOffset, FParam.YOffset, block.X,
                 block.Y);
  return block;
}

void TAddTextEffect::DoEffect(TICCImgInfo &Img, TEffectParams &Params) const {
  const TAddTextParam &P = FParam;
  ConvertTo8Bit(Img, true);
  if (!Params.FontCache) Params.FontCache = std::make_shared<TFontCache>();
  TTransForm *cms = Params.ColorTransform;
  const bool converted = cms && cms->InitWork2DestTransform(Img);
  const auto colour = [&](int32_t V) {
    return MaskBlendColor(converted ? cms->Work2DestColor(uint32_t(V)) : uint32_t(V), Img.Channels);
  };

  TTextBlock block = PlaceTextBlock(int32_t(Img.Width), int32_t(Img.Height), Params);
  if (!block.Mask->Mem) return;
  const TICCImgInfo &M = *block.Mask;
  const int32_t x = block.X, y = block.Y;

  if (P.BackOpacity != 0) {
    TICCImgOwner box(false);
    NewMask(*box, M.Width, M.Height, 255);
    KnockOut(*box, M, 0, 0);
    BlendColorThroughMask(Img, *box, x, y, colour(P.BackColor).data(), P.BackOpacity);
  }
  if (P.Shadow) {
    TICCImgOwner shadow(false);
    BlurredHalo(M, Params, P.ShadowRadius, P.ShadowStr, -P.ShadowOffsetX, -P.ShadowOffsetY, *shadow);
    BlendColorThroughMask(Img, *shadow, x + P.ShadowOffsetX, y + P.ShadowOffsetY, colour(P.ShadowColor).data(),
                          P.ShadowOpacity);
  }
  if (P.Glow) {
    TICCImgOwner glow(false);
    BlurredHalo(M, Params, P.GlowRadius, P.GlowStr, 0, 0, *glow);
    BlendColorThroughMask(Img, *glow, x, y, colour(P.GlowColor).data(), P.GlowOpacity);
  }
  if (P.FontOpacity != 0) BlendColorThroughMask(Img, M, x, y, colour(int32_t(FFont.Color)).data(), P.FontOpacity);
}

void TAddTextEffect::ReadIniFile(const TMemIniFile &Ini) {
  TEffect::ReadIniFile(Ini);
  const std::string &s = FSectionName;
  TAddTextParam &P = FParam;
  FText = StoredToText(Ini.ReadString(s, "Text", "<ymdhn>"));
  FFont.Name = Ini.ReadString(s, "FontName", "ＭＳ Ｐゴシック");
  FFont.Charset = uint8_t(Ini.ReadInteger(s, "FontCharset", FONT_CHARSET_SHIFTJIS));
  FFont.Size = Ini.ReadInteger(s, "FontSize", 20);
  FFont.Color = uint32_t(Ini.ReadInteger(s, "FontColor", 16777215));
  FFont.Style = Ini.ReadInteger(s, "FontStyle", 0) & 15;
  // Without "BasePos" the section is of the older layout with four corners.
  P.Position = Ini.ReadInteger(s, "BasePos", AnchorOfOlderPosition(Ini.ReadInteger(s, "Position", 3)));
  P.XOffset = Ini.ReadInteger(s, "X", 0);
  P.YOffset = Ini.ReadInteger(s, "Y", 0);
  P.FontOpacity = Ini.ReadInteger(s, "FontOpacity", 100);
  P.BackColor = Ini.ReadInteger(s, "BackColor", 16777215);
  P.BackOpacity = Ini.ReadInteger(s, "BackOpacity", 0);
  P.MarginX = Ini.ReadInteger(s, "MarginX", 0);
  P.MarginY = Ini.ReadInteger(s, "MarginY", 0);
  P.LinePitch = Ini.ReadFloat(s, "LinePitch", 0.0);
  P.Shadow = Ini.ReadBool(s, "Shadow", true) ? LongTrue : LongFalse;
  P.ShadowColor = Ini.ReadInteger(s, "ShadowColor", 0);
  P.ShadowOpacity = Ini.ReadInteger(s, "ShadowOpacity", 75);
  P.ShadowRadius = Ini.ReadFloat(s, "ShadowRadius", 2.0);
  P.ShadowStr = Ini.ReadInteger(s, "ShadowStr", 4);
  P.ShadowOffsetX = Ini.ReadInteger(s, "ShadowOffsetX", 2);
  P.ShadowOffsetY = Ini.ReadInteger(s, "ShadowOffsetY", 2);
  P.Glow = Ini.ReadBool(s, "Glow", true) ? LongTrue : LongFalse;
  P.GlowColor = Ini.ReadInteger(s, "GlowColor", 16776960);
  P.GlowOpacity = Ini.ReadInteger(s, "GlowOpacity", 75);
  P.GlowRadius = Ini.ReadFloat(s, "GlowRadius", 6.0);
  P.GlowStr = Ini.ReadInteger(s, "GlowStr", 8);
}

void TAddTextEffect::WriteIniFile(TMemIniFile &Ini) const {
  TEffect::WriteIniFile(Ini);
  const std::string &s = FSectionName;
  const TAddTextParam &P = FParam;
  Ini.WriteString(s, "Text", TextToStored(FText));
  Ini.WriteString(s, "FontName", FFont.Name);
  Ini.WriteInteger(s, "FontCharset", FFont.Charset);
  Ini.WriteInteger(s, "FontSize", FFont.Size);
  Ini.WriteInteger(s, "FontColor", int32_t(FFont.Color));
  Ini.WriteInteger(s, "FontStyle", FFont.Style);
  Ini.WriteInteger(s, "BasePos", P.Position);
  Ini.DeleteKey(s, "Position");  // the older key, replaced by "BasePos"
  Ini.WriteInteger(s, "X", P.XOffset);
  Ini.WriteInteger(s, "Y", P.YOffset);
  Ini.WriteInteger(s, "FontOpacity", P.FontOpacity);
  Ini.WriteInteger(s, "BackColor", P.BackColor);
  Ini.WriteInteger(s, "BackOpacity", P.BackOpacity);
  Ini.WriteInteger(s, "MarginX", P.MarginX);
  Ini.WriteInteger(s, "MarginY", P.MarginY);
  Ini.WriteFloat(s, "LinePitch", P.LinePitch);
  Ini.WriteBool(s, "Shadow", P.Shadow != 0);
  Ini.WriteInteger(s, "ShadowColor", P.ShadowColor);
  Ini.WriteInteger(s, "ShadowOpacity", P.ShadowOpacity);
  Ini.WriteFloat(s, "ShadowRadius", P.ShadowRadius);
  Ini.WriteInteger(s, "ShadowStr", P.ShadowStr);
  Ini.WriteInteger(s, "ShadowOffsetX", P.ShadowOffsetX);
  Ini.WriteInteger(s, "ShadowOffsetY", P.ShadowOffsetY);
  Ini.WriteBool(s, "Glow", P.Glow != 0);
  Ini.WriteInteger(s, "GlowColor", P.GlowColor);
  Ini.WriteInteger(s, "GlowOpacity", P.GlowOpacity);
  Ini.WriteFloat(s, "GlowRadius", P.GlowRadius);
  Ini.WriteInteger(s, "GlowStr", P.GlowStr);
}

void TAddTextEffect::WriteParamToStream(std::vector<uint8_t> &S) const {
  WriteAddTextParam(S, FParam);
  StreamWriteString(S, FText);
  StreamWriteString(S, FFont.Name);
  StreamWriteInt32(S, FFont.Charset);
  StreamWriteInt32(S, FFont.Size);
  StreamWriteInt32(S, int32_t(FFont.Color));
  StreamWriteInt32(S, FFont.Style);
}
