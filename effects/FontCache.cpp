// Font choice through fontconfig, shaping through HarfBuzz, glyphs through
// FreeType, and the reduction of the four-times drawing to a coverage mask.
#include "effects/FontCache.h"

#include "core/AsciiCase.h"
#include "core/Errors.h"
#include "core/PixelConvert.h"
#include "resample/Resize.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <tuple>
#include <utility>

#if defined(TESSIVO_SANITIZE)
// fontconfig 2.14 leaves a few hundred bytes unreferenced while it parses
// its configuration files with expat; nothing of ours holds them. The usual
// fast stack of a leak report ends inside fontconfig, so the whole library
// is let pass (with ASAN_OPTIONS=fast_unwind_on_malloc=0 the report shows
// the parser's block alone). Every program that draws text carries this,
// so a sanitizer build of tessivo ends without a report. The window
// program links this too; on an X display its toolkit loads the desktop
// bus library, which keeps a connection buffer until a shutdown call the
// toolkit never makes, so that library is let pass as well.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\nleak:libdbus-1.so\n"; }
#endif

namespace {

// Drawings are made at this multiple of the final size and reduced.
constexpr int Oversampling = 4;
// A drawing larger than this on either side fails the file instead of
// exhausting memory (a 1000-point font is about 5300 pixels per em at 4x).
constexpr int64_t MaxSurfaceSide = 1 << 15;
constexpr int64_t MaxSurfaceBytes = int64_t(1) << 30;

// Shear of a synthesised italic: about 12 degrees, as FreeType's own oblique.
constexpr FT_Fixed ObliqueShear = 0x0366A;

// fontconfig's configuration is one for the process; resolving runs under
// this lock so that workers starting at once do not race on it.
std::mutex FontconfigLock;

FcConfig *Fontconfig() {
  static FcConfig *Config = [] {
    FcConfig *c = FcInitLoadConfigAndFonts();
    if (!c) throw ETessivoError("fontconfig を初期化できません");
    return c;
  }();
  return Config;
}

// Windows fonts a stored setting may name, and the installed families that
// take their place, most alike first; the last is a generic family, so
// fontconfig always finds something of the same kind.
struct TWindowsFont {
  const char *Name;
  const char *Families[4];
  bool Japanese;
};
constexpr TWindowsFont WindowsFonts[] = {
    {"ＭＳ Ｐゴシック", {"IPAPGothic", "Noto Sans CJK JP", "VL PGothic", "sans-serif"}, true},
    {"MS PGothic", {"IPAPGothic", "Noto Sans CJK JP", "VL PGothic", "sans-serif"}, true},
    {"MS UI Gothic", {"IPAPGothic", "Noto Sans CJK JP", "VL PGothic", "sans-serif"}, true},
    {"ＭＳ ゴシック", {"IPAGothic", "Noto Sans Mono CJK JP", "VL Gothic", "monospace"}, true},
    {"MS Gothic", {"IPAGothic", "Noto Sans Mono CJK JP", "VL Gothic", "monospace"}, true},
    {"メイリオ", {"Noto Sans CJK JP", "IPAPGothic", "VL PGothic", "sans-serif"}, true},
    {"Meiryo", {"Noto Sans CJK JP", "IPAPGothic", "VL PGothic", "sans-serif"}, true},
    {"Meiryo UI", {"Noto Sans CJK JP", "IPAPGothic", "VL PGothic", "sans-serif"}, true},
    {"游ゴシック", {"Noto Sans CJK JP", "IPAPGothic", "VL PGothic", "sans-serif"}, true},
    {"Yu Gothic", {"Noto Sans CJK JP", "IPAPGothic", "VL PGothic", "sans-serif"}, true},
    {"ＭＳ Ｐ明朝", {"IPAPMincho", "Noto Serif CJK JP", "IPAMincho", "serif"}, true},
    {"MS PMincho", {"IPAPMincho", "Noto Serif CJK JP", "IPAMincho", "serif"}, true},
    {"ＭＳ 明朝", {"IPAMincho", "Noto Serif CJK JP", "IPAPMincho", "serif"}, true},
    {"MS Mincho", {"IPAMincho", "Noto Serif CJK JP", "IPAPMincho", "serif"}, true},
    {"游明朝", {"Noto Serif CJK JP", "IPAPMincho", "IPAMincho", "serif"}, true},
    {"Yu Mincho", {"Noto Serif CJK JP", "IPAPMincho", "IPAMincho", "serif"}, true},
    {"Arial", {"Liberation Sans", "Arimo", "DejaVu Sans", "sans-serif"}, false},
    {"Tahoma", {"DejaVu Sans", "Liberation Sans", "Arimo", "sans-serif"}, false},
    {"Verdana", {"DejaVu Sans", "Liberation Sans", "Arimo", "sans-serif"}, false},
    {"Segoe UI", {"Noto Sans", "DejaVu Sans", "Liberation Sans", "sans-serif"}, false},
    {"MS Sans Serif", {"Liberation Sans", "DejaVu Sans", "Arimo", "sans-serif"}, false},
    {"Calibri", {"Carlito", "Liberation Sans", "DejaVu Sans", "sans-serif"}, false},
    {"Times New Roman", {"Liberation Serif", "Tinos", "DejaVu Serif", "serif"}, false},
    {"Georgia", {"Gelasio", "Liberation Serif", "DejaVu Serif", "serif"}, false},
    {"Courier New", {"Liberation Mono", "Cousine", "DejaVu Sans Mono", "monospace"}, false},
    {"Consolas", {"Inconsolata", "Liberation Mono", "DejaVu Sans Mono", "monospace"}, false},
};

const TWindowsFont *FindWindowsFont(const std::string &Name) {
  for (const TWindowsFont &f : WindowsFonts)
    if (SameTextAscii(f.Name, Name)) return &f;
  return nullptr;
}

// The pattern fontconfig matches for a stored font, substitutions applied.
FcPattern *FontPattern(const std::string &Name, uint8_t Charset, int32_t Style) {
  FcPattern *p = FcPatternCreate();
  const TWindowsFont *w = FindWindowsFont(Name);
  if (w) {
    for (const char *f : w->Families) FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8 *>(f));
  } else {
    if (!Name.empty()) FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8 *>(Name.c_str()));
    FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8 *>("sans-serif"));
  }
  if (Charset == FONT_CHARSET_SHIFTJIS || (w && w->Japanese))
    FcPatternAddString(p, FC_LANG, reinterpret_cast<const FcChar8 *>("ja"));
  FcPatternAddInteger(p, FC_WEIGHT, Style & FONT_STYLE_BOLD ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(p, FC_SLANT, Style & FONT_STYLE_ITALIC ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcConfigSubstitute(Fontconfig(), p, FcMatchPattern);
  FcDefaultSubstitute(p);
  return p;
}

std::string PatternString(FcPattern *P, const char *Object, int N = 0) {
  FcChar8 *s = nullptr;
  return FcPatternGetString(P, Object, N, &s) == FcResultMatch && s ? reinterpret_cast<const char *>(s) : "";
}

int PatternInteger(FcPattern *P, const char *Object, int Default) {
  int v = Default;
  FcPatternGetInteger(P, Object, 0, &v);
  return v;
}

// Whether one of the family names of a matched font is Name.
bool HasFamily(FcPattern *Match, const std::string &Name) {
  FcChar8 *s = nullptr;
  for (int i = 0; FcPatternGetString(Match, FC_FAMILY, i, &s) == FcResultMatch; ++i)
    if (FcStrCmpIgnoreCase(s, reinterpret_cast<const FcChar8 *>(Name.c_str())) == 0) return true;
  return false;
}

TResolvedFont FromMatch(FcPattern *M, int32_t Style) {
  TResolvedFont r;
  r.File = PatternString(M, FC_FILE);
  r.Index = PatternInteger(M, FC_INDEX, 0);
  r.Family = PatternString(M, FC_FAMILY);
  // fontconfig's own rules mark a face that lacks the style (embolden, a
  // shearing matrix) and then report the style asked for, not the face's.
  FcBool embolden = FcFalse;
  FcPatternGetBool(M, FC_EMBOLDEN, 0, &embolden);
  FcMatrix *matrix = nullptr;
  const bool sheared = FcPatternGetMatrix(M, FC_MATRIX, 0, &matrix) == FcResultMatch && matrix && matrix->xy != 0;
  r.SynthBold = (Style & FONT_STYLE_BOLD) &&
                (embolden || PatternInteger(M, FC_WEIGHT, FC_WEIGHT_REGULAR) < FC_WEIGHT_DEMIBOLD);
  r.SynthItalic = (Style & FONT_STYLE_ITALIC) &&
                  (sheared || PatternInteger(M, FC_SLANT, FC_SLANT_ROMAN) == FC_SLANT_ROMAN);
  return r;
}

// Decodes UTF-8, a broken sequence becoming U+FFFD.
std::u32string DecodeUtf8(const std::string &S) {
  std::u32string out;
  for (size_t i = 0; i < S.size();) {
    const uint8_t b = uint8_t(S[i]);
    const int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + size_t(len) > S.size()) {
      out += U'\uFFFD', ++i;
      continue;
    }
    char32_t c = len == 1 ? b : b & (0x7F >> len);
    bool ok = true;
    for (int k = 1; k < len && ok; ++k) {
      const uint8_t t = uint8_t(S[i + size_t(k)]);
      ok = (t & 0xC0) == 0x80;
      c = (c << 6) | (t & 0x3F);
    }
    if (!ok) {
      out += U'\uFFFD', ++i;
      continue;
    }
    out += c;
    i += size_t(len);
  }
  return out;
}

// The lines of a text split at CR LF, CR or LF.
std::vector<std::u32string> SplitLines(const std::u32string &T) {
  std::vector<std::u32string> lines(1);
  for (size_t i = 0; i < T.size(); ++i) {
    if (T[i] == U'\r' || T[i] == U'\n') {
      if (T[i] == U'\r' && i + 1 < T.size() && T[i + 1] == U'\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += T[i];
    }
  }
  return lines;
}

int64_t Trunc4(double V) { return int64_t(std::trunc(Oversampling * V)); }

}  // namespace

double FontPixelSize(double Points) { return Points * 96.0 / 72.0; }

TResolvedFont ResolveFont(const std::string &Name, uint8_t Charset, int32_t Style) {
  std::lock_guard lock(FontconfigLock);
  FcPattern *p = FontPattern(Name, Charset, Style);
  FcResult result = FcResultNoMatch;
  FcPattern *m = FcFontMatch(Fontconfig(), p, &result);
  FcPatternDestroy(p);
  if (!m) throw ETessivoError("フォントが見つかりません: " + Name);
  TResolvedFont r = FromMatch(m, Style);
  if (!FindWindowsFont(Name) && !HasFamily(m, Name))
    r.Notice = "font \"" + Name + "\" is not installed; \"" + r.Family + "\" is used";
  FcPatternDestroy(m);
  if (r.File.empty()) throw ETessivoError("フォントが見つかりません: " + Name);
  return r;
}

// ---------------------------------------------------------------------------
// Faces

// The FreeType library of one cache, the faces it opened and the fonts it
// resolved. FreeType objects are not shared between threads: every worker's
// cache has its own library.
class TFontFaces {
public:
  struct TFace {
    FT_Face Face = nullptr;
    hb_font_t *Font = nullptr;
    bool SynthBold = false, SynthItalic = false;
  };
  // A stored font resolved: its main face, then the faces of the fallback
  // list, opened when a character needs one.
  struct TResolved {
    TResolvedFont Main;
    FcFontSet *Fallbacks = nullptr;
    std::vector<int> FallbackFace;  // face index per fallback entry; -1 not opened, -2 unusable
    int MainFace = -1;
    int32_t Style = 0;
  };

  TFontFaces() {
    if (FT_Init_FreeType(&FLibrary) != 0) throw ETessivoError("FreeType を初期化できません");
  }
  ~TFontFaces() {
    for (auto &r : FResolved)
      if (r.second.Fallbacks) FcFontSetDestroy(r.second.Fallbacks);
    for (TFace &f : FFaces) {
      hb_font_destroy(f.Font);
      FT_Done_Face(f.Face);
    }
    FT_Done_FreeType(FLibrary);
  }
  TFontFaces(const TFontFaces &) = delete;
  TFontFaces &operator=(const TFontFaces &) = delete;

  TResolved &Resolve(const TFont &Font) {
    const int32_t style = Font.Style & (FONT_STYLE_BOLD | FONT_STYLE_ITALIC);
    const auto key = std::make_tuple(Font.Name, Font.Charset, style);
    auto it = FResolved.find(key);
    if (it != FResolved.end()) return it->second;
    TResolved r;
    r.Main = ResolveFont(Font.Name, Font.Charset, style);
    r.Style = style;
    if (!r.Main.Notice.empty() && FNoticed.insert(Font.Name).second) FNotices.push_back(r.Main.Notice);
    r.MainFace = Open(r.Main.File, r.Main.Index, r.Main.SynthBold, r.Main.SynthItalic);
    {
      std::lock_guard lock(FontconfigLock);
      FcPattern *p = FontPattern(Font.Name, Font.Charset, style);
      FcResult result = FcResultNoMatch;
      r.Fallbacks = FcFontSort(Fontconfig(), p, FcTrue, nullptr, &result);
      FcPatternDestroy(p);
    }
    if (r.Fallbacks) r.FallbackFace.assign(size_t(r.Fallbacks->nfont), -1);
    return FResolved.emplace(key, std::move(r)).first->second;
  }

  // The face that draws C: the main one when it has the character, else the
  // first fallback that has it, else the main one (its missing-glyph box).
  int FaceFor(TResolved &R, char32_t C) {
    if (C < 0x20 || FT_Get_Char_Index(FFaces[size_t(R.MainFace)].Face, C) != 0) return R.MainFace;
    if (!R.Fallbacks) return R.MainFace;
    for (int i = 0; i < R.Fallbacks->nfont; ++i) {
      FcPattern *f = R.Fallbacks->fonts[i];
      FcCharSet *cs = nullptr;
      if (FcPatternGetCharSet(f, FC_CHARSET, 0, &cs) != FcResultMatch || !FcCharSetHasChar(cs, C)) continue;
      int &face = R.FallbackFace[size_t(i)];
      if (face == -1) {
        const TResolvedFont m = FromMatch(f, R.Style);
        try {
          face = Open(m.File, m.Index, m.SynthBold, m.SynthItalic);
        } catch (const ETessivoError &) {
          face = -2;
        }
      }
      if (face >= 0) return face;
    }
    return R.MainFace;
  }

  TFace &Face(int Index) { return FFaces[size_t(Index)]; }

  // Sizes every face used by this drawing to Pixels per em.
  void SetSize(int Index, double Pixels) {
    TFace &f = FFaces[size_t(Index)];
    const FT_F26Dot6 size = FT_F26Dot6(std::lround(Pixels * 64));
    if (f.Face->size && f.Face->size->metrics.x_ppem && FSizes[size_t(Index)] == size) return;
    if (FT_Set_Char_Size(f.Face, 0, size, 72, 72) != 0) throw ETessivoError("フォントの大きさを設定できません");
    hb_ft_font_changed(f.Font);
    FSizes[size_t(Index)] = size;
  }

  std::vector<std::string> TakeNotices() { return std::exchange(FNotices, {}); }

private:
  int Open(const std::string &File, int32_t Index, bool SynthBold, bool SynthItalic) {
    const auto key = std::make_tuple(File, Index, SynthBold, SynthItalic);
    if (auto it = FOpened.find(key); it != FOpened.end()) return it->second;
    TFace f;
    if (FT_New_Face(FLibrary, File.c_str(), Index, &f.Face) != 0)
      throw ETessivoError("フォントを開けません: " + File);
    FT_Select_Charmap(f.Face, FT_ENCODING_UNICODE);
    f.Font = hb_ft_font_create_referenced(f.Face);
    f.SynthBold = SynthBold;
    f.SynthItalic = SynthItalic;
    FFaces.push_back(f);
    FSizes.push_back(0);
    const int index = int(FFaces.size() - 1);
    FOpened.emplace(key, index);
    return index;
  }

  FT_Library FLibrary = nullptr;
  std::vector<TFace> FFaces;
  std::vector<FT_F26Dot6> FSizes;
  std::map<std::tuple<std::string, int32_t, bool, bool>, int> FOpened;
  std::map<std::tuple<std::string, uint8_t, int32_t>, TResolved> FResolved;
  std::vector<std::string> FNotices;
  std::set<std::string> FNoticed;
};

namespace {

// One positioned glyph of a line, in 26.6 pixels from the line's origin.
struct TPlacedGlyph {
  int Face;
  uint32_t Glyph;
  FT_Pos X, Y;
};

struct TLineLayout {
  std::vector<TPlacedGlyph> Glyphs;
  FT_Pos Advance = 0;  // pen position after the last glyph
};

// Extra advance of a synthesised bold glyph, as FreeType's own emboldening.
FT_Pos BoldStrength(FT_Face Face) { return FT_MulFix(Face->units_per_EM, Face->size->metrics.y_scale) / 24; }

// Loads a glyph as an outline with the face's synthesised style applied.
bool LoadOutline(TFontFaces::TFace &F, uint32_t Glyph) {
  if (FT_Load_Glyph(F.Face, Glyph, FT_LOAD_NO_BITMAP | FT_LOAD_NO_HINTING) != 0) return false;
  FT_GlyphSlot slot = F.Face->glyph;
  if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return false;
  if (F.SynthItalic) {
    const FT_Matrix shear{0x10000, ObliqueShear, 0, 0x10000};
    FT_Outline_Transform(&slot->outline, &shear);
  }
  if (F.SynthBold) {
    const FT_Pos s = BoldStrength(F.Face);
    FT_Outline_EmboldenXY(&slot->outline, s, s);
    FT_Outline_Translate(&slot->outline, 0, -s / 2);  // grow upwards and downwards alike
  }
  return true;
}

// Shapes one line: runs of characters drawn by one face each go through HarfBuzz.
TLineLayout ShapeLine(TFontFaces &Faces, TFontFaces::TResolved &R, const std::u32string &Line, double Pixels) {
  TLineLayout out;
  size_t start = 0;
  while (start < Line.size()) {
    const int face = Faces.FaceFor(R, Line[start]);
    size_t end = start + 1;
    while (end < Line.size() && Faces.FaceFor(R, Line[end]) == face) ++end;
    Faces.SetSize(face, Pixels);
    TFontFaces::TFace &F = Faces.Face(face);
    hb_buffer_t *buf = hb_buffer_create();
    hb_buffer_add_utf32(buf, reinterpret_cast<const uint32_t *>(Line.data()), int(Line.size()), unsigned(start),
                        int(end - start));
    hb_buffer_guess_segment_properties(buf);
    hb_shape(F.Font, buf, nullptr, 0);
    unsigned n = 0;
    const hb_glyph_info_t *info = hb_buffer_get_glyph_infos(buf, &n);
    const hb_glyph_position_t *pos = hb_buffer_get_glyph_positions(buf, &n);
    const FT_Pos bold = F.SynthBold ? BoldStrength(F.Face) : 0;
    for (unsigned i = 0; i < n; ++i) {
      out.Glyphs.push_back({face, info[i].codepoint, out.Advance + pos[i].x_offset, pos[i].y_offset});
      out.Advance += pos[i].x_advance + bold;
    }
    hb_buffer_destroy(buf);
    start = end;
  }
  return out;
}

// Right edge of the ink of a line in whole pixels, at least its advance:
// an italic's last letter leans past its advance and stays inside the block.
int64_t LineWidth(TFontFaces &Faces, const TLineLayout &L) {
  FT_Pos right = L.Advance;
  for (const TPlacedGlyph &g : L.Glyphs) {
    TFontFaces::TFace &F = Faces.Face(g.Face);
    if (!LoadOutline(F, g.Glyph)) continue;
    FT_BBox box;
    FT_Outline_Get_CBox(&F.Face->glyph->outline, &box);
    if (box.xMax > box.xMin) right = std::max(right, g.X + box.xMax);
  }
  return (right + 63) / 64;
}

// Writes the glyph in the slot (rendered) at (X, Y) of the surface, the
// brighter value winning where glyphs overlap.
void Blit(const FT_Bitmap &B, int64_t X, int64_t Y, std::vector<uint8_t> &S, int64_t W, int64_t H) {
  for (unsigned r = 0; r < B.rows; ++r) {
    const int64_t y = Y + r;
    if (y < 0 || y >= H) continue;
    const uint8_t *src = B.buffer + int64_t(r) * B.pitch;
    for (unsigned c = 0; c < B.width; ++c) {
      const int64_t x = X + c;
      if (x < 0 || x >= W) continue;
      uint8_t &d = S[size_t(y * W + x)];
      d = std::max(d, src[c]);
    }
  }
}

void FillRows(std::vector<uint8_t> &S, int64_t W, int64_t H, int64_t X0, int64_t X1, int64_t Y0, int64_t Y1) {
  X0 = std::max<int64_t>(X0, 0), X1 = std::min(X1, W);
  Y0 = std::max<int64_t>(Y0, 0), Y1 = std::min(Y1, H);
  for (int64_t y = Y0; y < Y1; ++y)
    if (X1 > X0) std::memset(S.data() + y * W + X0, 255, size_t(X1 - X0));
}

// Underline and strike-out: their place and thickness from the face's own
// tables where it has them, in whole pixels below (positive) the baseline.
struct TDecoration {
  int64_t UnderlineTop, StrikeTop, Thickness;
};
TDecoration Decoration(FT_Face Face, int64_t Ascent) {
  const FT_Fixed ys = Face->size->metrics.y_scale;
  int64_t thick = FT_MulFix(Face->underline_thickness, ys) / 64;
  int64_t under = -FT_MulFix(Face->underline_position, ys) / 64;
  const int64_t em = Face->size->metrics.y_ppem;
  if (thick <= 0) thick = std::max<int64_t>(1, em / 14);
  if (under <= 0) under = std::max<int64_t>(1, em / 10);
  int64_t strike = Ascent * 3 / 10;
  if (const auto *os2 = static_cast<const TT_OS2 *>(FT_Get_Sfnt_Table(Face, FT_SFNT_OS2)))
    if (os2->yStrikeoutPosition > 0) strike = FT_MulFix(os2->yStrikeoutPosition, ys) / 64;
  return {under - thick / 2, -strike - thick / 2, thick};
}

}  // namespace

// ---------------------------------------------------------------------------
// TFontCache

TFontCache::TFontCache() = default;
TFontCache::~TFontCache() = default;

std::vector<std::string> TFontCache::TakeNotices() { return FFaces ? FFaces->TakeNotices() : std::vector<std::string>{}; }

void TFontCache::GetAntialiasingText(const std::string &Text, const TFont &Font, TMultiThread *MT, TResizer *Resizer,
                                     double MarginBottom, double MarginRight, double MarginTop, double MarginLeft,
                                     double LinePitch, TICCImgInfo &Img) {
  if (FFontCache->Mem && Text == FText && Font.Name == FFontName && Font.Size == FFontSize &&
      Font.Style == FFontStyle && Font.Charset == FFontCharset && LinePitch == FLinePitch &&
      MarginLeft == FMarginLeft && MarginTop == FMarginTop && MarginRight == FMarginRight &&
      MarginBottom == FMarginBottom) {
    CopyICCImgInfo(*FFontCache, Img, false);
    return;
  }
  if (!Resizer) throw ETessivoError("アンチエイリアス処理が初期化されていません");
  if (!FFaces) FFaces = std::make_unique<TFontFaces>();
  TFontFaces::TResolved &R = FFaces->Resolve(Font);
  const double pixels = FontPixelSize(double(Font.Size) * Oversampling);
  if (!(pixels > 0) || pixels > double(MaxSurfaceSide)) throw ETessivoError("フォントサイズが正しくありません");

  // Metrics of the main face give every line its height, as one font would.
  FFaces->SetSize(R.MainFace, pixels);
  FT_Face main = FFaces->Face(R.MainFace).Face;
  int64_t ascent = (main->size->metrics.ascender + 63) / 64;
  int64_t descent = (-main->size->metrics.descender + 63) / 64;
  // The Windows metrics of the OS/2 table bound every glyph of the font; a
  // line as high as they say clips no accent or descender.
  if (const auto *os2 = static_cast<const TT_OS2 *>(FT_Get_Sfnt_Table(main, FT_SFNT_OS2));
      os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
    const FT_Fixed ys = main->size->metrics.y_scale;
    ascent = std::max<int64_t>(ascent, (FT_MulFix(os2->usWinAscent, ys) + 63) / 64);
    descent = std::max<int64_t>(descent, (FT_MulFix(os2->usWinDescent, ys) + 63) / 64);
  }
  const int64_t lineHeight = std::max<int64_t>(1, ascent + descent);
  const int64_t pitch = Trunc4(LinePitch);

  const std::vector<std::u32string> lines = SplitLines(DecodeUtf8(Text));
  std::vector<TLineLayout> layouts;
  int64_t blockWidth = 0;
  for (const std::u32string &line : lines) {
    layouts.push_back(ShapeLine(*FFaces, R, line, pixels));
    blockWidth = std::max(blockWidth, LineWidth(*FFaces, layouts.back()));
  }
  const int64_t left = Trunc4(MarginLeft), top = Trunc4(MarginTop);
  const int64_t W = blockWidth + Trunc4(MarginLeft + MarginRight);
  const int64_t H = int64_t(lines.size()) * lineHeight + int64_t(lines.size() - 1) * pitch + Trunc4(MarginTop + MarginBottom);
  if (W < 1 || H < 1 || W > MaxSurfaceSide || H > MaxSurfaceSide || W * H > MaxSurfaceBytes)
    throw ETessivoError("文字の描画サイズが正しくありません (" + std::to_string(W) + " x " + std::to_string(H) + ")");

  // White on black, top row first.
  std::vector<uint8_t> surface(size_t(W * H), 0);
  int64_t y = top;
  for (const TLineLayout &L : layouts) {
    const int64_t baseline = y + ascent;
    for (const TPlacedGlyph &g : L.Glyphs) {
      TFontFaces::TFace &F = FFaces->Face(g.Face);
      if (!LoadOutline(F, g.Glyph)) continue;
      // The pen's fraction moves the outline, so letters keep their spacing.
      const FT_Pos px = g.X & 63, py = g.Y & 63;
      FT_Outline_Translate(&F.Face->glyph->outline, px, py);
      if (FT_Render_Glyph(F.Face->glyph, FT_RENDER_MODE_NORMAL) != 0) continue;
      const FT_GlyphSlot s = F.Face->glyph;
      Blit(s->bitmap, left + (g.X >> 6) + s->bitmap_left, baseline - (g.Y >> 6) - s->bitmap_top, surface, W, H);
    }
    if (Font.Style & (FONT_STYLE_UNDERLINE | FONT_STYLE_STRIKEOUT)) {
      const TDecoration d = Decoration(main, ascent);
      const int64_t x1 = left + (L.Advance + 63) / 64;
      if (Font.Style & FONT_STYLE_UNDERLINE)
        FillRows(surface, W, H, left, x1, baseline + d.UnderlineTop, baseline + d.UnderlineTop + d.Thickness);
      if (Font.Style & FONT_STYLE_STRIKEOUT)
        FillRows(surface, W, H, left, x1, baseline + d.StrikeTop, baseline + d.StrikeTop + d.Thickness);
    }
    y += lineHeight + pitch;
  }

  TICCImgOwner big(false);
  big->Width = uint32_t(W), big->Height = uint32_t(H), big->Channels = 1;
  big->BPP = BPP_8, big->PixelFormat = PIXFMT_GRAY;
  big->Bpl = GetAlignedBpl(big->Width, 1);
  big->Mem = AllocPixelBlock(big->Bpl, big->Height);
  for (int64_t r = 0; r < H; ++r) std::memcpy(PictureRow(*big, uint32_t(r)), surface.data() + r * W, size_t(W));
  surface = {};

  TICCImgOwner small(false);
  const uint32_t w = uint32_t((W + 3) / Oversampling), h = uint32_t((H + 3) / Oversampling);
  if (w == big->Width && h == big->Height) {
    CopyICCImgInfo(*big, *small, false);
  } else {
    Resizer->ResizeImage(*big, *small, MT, false, false, h, w);
    small->PixelFormat = PIXFMT_GRAY;
    ConvertTo8Bit(*small, false, 0);
  }
  ++FRenderCount;

  FFontCache.Release();
  CopyICCImgInfo(*small, *FFontCache, false);
  FText = Text, FFontName = Font.Name, FFontSize = Font.Size, FFontStyle = Font.Style, FFontCharset = Font.Charset;
  FLinePitch = LinePitch;
  FMarginLeft = MarginLeft, FMarginTop = MarginTop, FMarginRight = MarginRight, FMarginBottom = MarginBottom;
  Img = small.Detach();
}
