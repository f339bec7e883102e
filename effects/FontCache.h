// Text rendering for the text effect: a text block is drawn with FreeType at
// four times its final size, shaped by HarfBuzz (kerning, ligatures, CJK),
// with the font chosen by fontconfig from the stored name, character set and
// style, then brought down to size by the anti-aliasing resizer into an 8-bit
// coverage mask. Each worker keeps one TFontCache, which remembers the last
// mask, so a batch stamping the same text renders it once.
#pragma once

#include "core/ImgInfo.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TMultiThread;
class TResizer;

// Style bits of a font, as stored ("FontStyle").
enum : int32_t {
  FONT_STYLE_BOLD = 1,
  FONT_STYLE_ITALIC = 2,
  FONT_STYLE_UNDERLINE = 4,
  FONT_STYLE_STRIKEOUT = 8,
};

// The Windows character set of Japanese fonts (SHIFTJIS_CHARSET).
constexpr uint8_t FONT_CHARSET_SHIFTJIS = 128;

// A font as the settings describe it.
struct TFont {
  std::string Name = "ＭＳ Ｐゴシック";
  uint8_t Charset = FONT_CHARSET_SHIFTJIS;
  int32_t Size = 20;           // points
  uint32_t Color = 0xFFFFFF;   // 0x00BBGGRR
  int32_t Style = 0;           // FONT_STYLE_* bits
};

// Pixels per em for a size in points on the 96-dpi drawing surface.
double FontPixelSize(double Points);

// What fontconfig made of a stored font: the installed file, the face in it,
// its family name, and what style the file lacks and is synthesised.
struct TResolvedFont {
  std::string File;
  int32_t Index = 0;
  std::string Family;
  bool SynthBold = false;
  bool SynthItalic = false;
  // Empty when the stored name (or the Windows font it names) was found;
  // otherwise the log line saying which font stands in.
  std::string Notice;
};
// Resolves a stored font. Windows names ("ＭＳ Ｐゴシック", "Arial", ...)
// map to installed fonts of the same kind; charset 128 asks for Japanese
// coverage. An unknown name falls back to the default sans-serif font.
TResolvedFont ResolveFont(const std::string &Name, uint8_t Charset, int32_t Style);

class TFontFaces;

class TFontCache {
public:
  TFontCache();
  ~TFontCache();
  TFontCache(const TFontCache &) = delete;
  TFontCache &operator=(const TFontCache &) = delete;

  // Fills Img (which must be empty; the caller owns the result) with a
  // one-channel 8-bit coverage mask of Text (lines split at CR LF, CR or LF):
  // 0 outside the glyphs, 255 inside, with the margins around the block.
  // The same text, font name, size, style, character set, line pitch and
  // margins as the call before return a copy of the cached mask.
  void GetAntialiasingText(const std::string &Text, const TFont &Font, TMultiThread *MT, TResizer *Resizer,
                           double MarginBottom, double MarginRight, double MarginTop, double MarginLeft,
                           double LinePitch, TICCImgInfo &Img);

  // The log lines of font fallbacks since the last call (each font once per
  // cache), for the caller to report with the file's name.
  std::vector<std::string> TakeNotices();
  // How many times a mask was drawn rather than copied from the cache.
  uint64_t RenderCount() const { return FRenderCount; }

  std::string FText;
  std::string FFontName;
  int32_t FFontSize = 0;
  int32_t FFontStyle = 0;
  uint8_t FFontCharset = 0;
  double FLinePitch = 0;
  double FMarginLeft = 0, FMarginTop = 0, FMarginRight = 0, FMarginBottom = 0;
  TICCImgOwner FFontCache{false};

private:
  std::unique_ptr<TFontFaces> FFaces;
  uint64_t FRenderCount = 0;
};
