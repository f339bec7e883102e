// The text overlay: a text with placeholders filled in per file (dates,
// names, numbers) drawn at one of nine anchors, with an optional background
// box, drop shadow and glow, all through 8-bit coverage masks.
#pragma once

#include "effects/Effect.h"
#include "effects/FontCache.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The placement and look of the text. The lossless-JPEG tool reads this
// record whole (104 bytes) from the effect parameter stream, so its layout
// is fixed; the padding is written as zeros.
struct TAddTextParam {
  int32_t Position = 8;        // anchor 0 to 8: column = value div 3, row = value mod 3
  int32_t XOffset = 0;
  int32_t YOffset = 0;
  int32_t FontOpacity = 100;   // percent
  int32_t BackColor = 16777215;
  int32_t BackOpacity = 0;     // percent; 0: no box
  int32_t MarginX = 0;
  int32_t MarginY = 0;
  double LinePitch = 0.0;      // extra space between lines, pixels
  LongBool Shadow = LongTrue;
  int32_t ShadowColor = 0;
  int32_t ShadowOpacity = 75;
  int32_t Padding1 = 0;
  double ShadowRadius = 2.0;
  int32_t ShadowStr = 4;
  int32_t ShadowOffsetX = 2;
  int32_t ShadowOffsetY = 2;
  LongBool Glow = LongTrue;
  int32_t GlowColor = 16776960;
  int32_t GlowOpacity = 75;
  double GlowRadius = 6.0;
  int32_t GlowStr = 8;
  int32_t Padding2 = 0;
};
static_assert(sizeof(TAddTextParam) == 104);
static_assert(offsetof(TAddTextParam, XOffset) == 4 && offsetof(TAddTextParam, YOffset) == 8);
static_assert(offsetof(TAddTextParam, FontOpacity) == 12 && offsetof(TAddTextParam, BackColor) == 16);
static_assert(offsetof(TAddTextParam, BackOpacity) == 20 && offsetof(TAddTextParam, MarginX) == 24);
static_assert(offsetof(TAddTextParam, MarginY) == 28 && offsetof(TAddTextParam, LinePitch) == 32);
static_assert(offsetof(TAddTextParam, Shadow) == 40 && offsetof(TAddTextParam, ShadowColor) == 44);
static_assert(offsetof(TAddTextParam, ShadowOpacity) == 48 && offsetof(TAddTextParam, ShadowRadius) == 56);
static_assert(offsetof(TAddTextParam, ShadowStr) == 64 && offsetof(TAddTextParam, ShadowOffsetX) == 68);
static_assert(offsetof(TAddTextParam, ShadowOffsetY) == 72 && offsetof(TAddTextParam, Glow) == 76);
static_assert(offsetof(TAddTextParam, GlowColor) == 80 && offsetof(TAddTextParam, GlowOpacity) == 84);
static_assert(offsetof(TAddTextParam, GlowRadius) == 88 && offsetof(TAddTextParam, GlowStr) == 96);

// The record as the parameter stream carries it, little-endian.
void WriteAddTextParam(std::vector<uint8_t> &S, const TAddTextParam &P);

// The anchored position of a w x h block on a W x H picture (anchor 0 to 8:
// left, centre, right column by value div 3; top, middle, bottom row by
// value mod 3), the offsets added; div truncates toward zero.
void AnchorPosition(int32_t Anchor, int32_t W, int32_t H, int32_t w, int32_t h, int32_t OffsetX, int32_t OffsetY,
                    int32_t &X, int32_t &Y);

// The text after its placeholders are filled in for the current file: the
// start number from a "<s...>" token in the text or from the naming
// settings (Settings may be null: the defaults), plus Params.Number.
std::string ExpandedOverlayText(const std::string &Text, const TEffectParams &Params);

// Margins of the mask around the text: the settings' plus the room the
// shadow and the glow need.
struct TTextMargins {
  double Left, Top, Right, Bottom;
};
TTextMargins TextMargins(const TAddTextParam &P);

// The text block as the effect places it: the coverage mask of the expanded
// text with its margins, and the picture position of its top-left corner.
// No pixel block: the text expands to nothing and nothing is drawn.
struct TTextBlock {
  TICCImgOwner Mask{false};
  int32_t X = 0, Y = 0;
};

class TAddTextEffect : public TEffect {
public:
  TAddTextEffect();

  // Where the text of the current file (Params) lies on a W x H picture;
  // the dialog uses it to know what can be dragged.
  TTextBlock PlaceTextBlock(int32_t W, int32_t H, TEffectParams &Params) const;

  // Reduces to 8 bits, then draws box, shadow, glow and text.
  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override;
  void ReadIniFile(const TMemIniFile &Ini) override;
  void WriteIniFile(TMemIniFile &Ini) const override;
  // The record, the text, the font name, charset, size, colour and style bits.
  void WriteParamToStream(std::vector<uint8_t> &S) const override;

  std::string FText = "<ymdhn>";  // line breaks as CR LF
  TFont FFont;
  TAddTextParam FParam;
};
