// The text overlay: placeholders, font choice, the rendered mask, placement
// at the nine anchors, the cache, the stored settings and the stream record.
#include "core/IniFile.h"
#include "effects/AddTextEffect.h"
#include "effects/FontCache.h"
#include "effects/TextTemplate.h"
#include "io/ImageProbe.h"
#include "resample/Filter.h"
#include "resample/Resize.h"
#include "resample/WeightedMean.h"
#include "resample/tests/TestImage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

class LibraryEnv : public testing::Environment {
public:
  void SetUp() override {
    LoadResizeLibrary(TESSIVO_BIN_DIR);
    CreateProgramResizers(1);
  }
  void TearDown() override {
    FreeProgramResizers();
    FreeResizeLibrary();
  }
};
const auto *const Env = testing::AddGlobalTestEnvironment(new LibraryEnv);

// Days since 1899-12-30 of a civil date and time.
double DateTime(int Y, int M, int D, int h, int n, int s) {
  // 2000-01-01 is day 36526.
  auto days = [](int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;  // days since 1970-01-01
  };
  return days(Y, M, D) + 25569 + (h * 3600 + n * 60 + s) / 86400.0;
}

// A text mask rendered by a fresh cache.
struct TMask {
  TICCImgOwner I{false};
  uint8_t At(uint32_t x, uint32_t y) const { return PictureRow(*I, y)[x]; }
  uint64_t Sum() const {
    uint64_t s = 0;
    for (uint32_t y = 0; y < I->Height; ++y)
      for (uint32_t x = 0; x < I->Width; ++x) s += At(x, y);
    return s;
  }
  // Rows and columns holding ink (> 0): first and one past the last.
  struct TBox {
    int64_t X0 = -1, Y0 = -1, X1 = -1, Y1 = -1;
  };
  TBox Ink() const {
    TBox b;
    for (uint32_t y = 0; y < I->Height; ++y)
      for (uint32_t x = 0; x < I->Width; ++x)
        if (At(x, y)) {
          if (b.X0 < 0 || x < b.X0) b.X0 = x;
          if (b.Y0 < 0) b.Y0 = y;
          b.X1 = std::max<int64_t>(b.X1, x + 1);
          b.Y1 = y + 1;
        }
    return b;
  }
};

TFont FontOf(const std::string &Name, int32_t Size, int32_t Style = 0, uint8_t Charset = 0) {
  TFont f;
  f.Name = Name, f.Size = Size, f.Style = Style, f.Charset = Charset;
  return f;
}

void Render(TFontCache &Cache, const std::string &Text, const TFont &Font, double Margin, TMask &M) {
  Cache.GetAntialiasingText(Text, Font, nullptr, AntialiasingResizer, Margin, Margin, Margin, Margin, 0, *M.I);
}

// FNV-1a over the mask's pixels, row by row from the top.
uint64_t Checksum(const TMask &M) {
  uint64_t h = 1469598103934665603ull;
  for (uint32_t y = 0; y < M.I->Height; ++y)
    for (uint32_t x = 0; x < M.I->Width; ++x) h = (h ^ M.At(x, y)) * 1099511628211ull;
  return h;
}

// The families fontconfig's own listing gives for Japanese.
std::string JapaneseFamilies() {
  std::string out;
  if (FILE *p = ::popen("fc-list :lang=ja family 2>/dev/null", "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  return out;
}

// Everything a run of the effect needs, one worker's worth.
struct TWorker {
  TGaussianBlur Blur;
  TEffectParams P;
  TWorker() {
    P.GaussianBlur = &Blur;
    P.Antialiasing = AntialiasingResizer;
    P.InFileName = "/photos/IMG_0001.JPG";
    P.OutFileName = "/photos/resize/IMG_0001.jpg";
  }
};

// A plain effect: white text, no box, shadow or glow, on a mid-gray picture.
std::unique_ptr<TAddTextEffect> PlainText(const std::string &Text) {
  auto e = std::make_unique<TAddTextEffect>();
  e->FText = Text;
  e->FFont = FontOf("DejaVu Sans", 12);
  e->FParam.Shadow = e->FParam.Glow = LongFalse;
  return e;
}

void FillGray(TTestImage &T, int32_t V) { T.Fill([V](uint32_t, uint32_t, uint32_t) { return V; }); }

// The rectangle of picture pixels that differ from the gray V (x0, y0, x1, y1; y from the top).
TMask::TBox Changed(const TTestImage &T, int32_t V) {
  TMask::TBox b;
  for (uint32_t y = 0; y < T.I.Height; ++y)
    for (uint32_t x = 0; x < T.I.Width; ++x) {
      bool diff = false;
      for (uint32_t c = 0; c < T.I.Channels; ++c) diff |= T.Get(x, T.I.Height - 1 - y, c) != V;
      if (!diff) continue;
      if (b.X0 < 0 || x < b.X0) b.X0 = x;
      if (b.Y0 < 0) b.Y0 = y;
      b.X1 = std::max<int64_t>(b.X1, x + 1);
      b.Y1 = y + 1;
    }
  return b;
}

TEST(TextTemplate, OverlayPlaceholdersForTheCurrentFile) {
  struct Case {
    const char *Name;
    const char *Text;
    int32_t Number;
    const char *Expected;
  } cases[] = {
      {"date of the photo", "<ymd>", 0, "2013/05/01"},
      {"date and minutes", "<ymdhn>", 0, "2013/05/01 10:20"},
      {"date and seconds", "<ymdhns>", 0, "2013/05/01 10:20:30"},
      {"single fields", "<yy>-<mm>-<dd> <hh>h<nn>m<ss>s", 0, "13-05-01 10h20m30s"},
      {"number padded to three", "<n3>", 6, "007"},  // start 1 + number 6
      {"plain number", "No.<n>", 6, "No.7"},
      {"start token", "<s100><n4>", 6, "0106"},
      {"unknown word is bare", "<dir>/<foo>", 0, "dir/foo"},
      {"names", "<old> <oldname> <new> <newname>", 0, "IMG_0001.JPG IMG_0001 IMG_0001.jpg IMG_0001"},
      {"empty token", "<>", 0, ""},
      {"line breaks stay", "a\r\nb", 0, "a\r\nb"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TWorker w;
    w.P.Time = DateTime(2013, 5, 1, 10, 20, 30);
    w.P.Number = c.Number;
    EXPECT_EQ(ExpandedOverlayText(c.Text, w.P), c.Expected);
  }
}

TEST(TextTemplate, SequenceBaseFollowsTheNamingSettings) {
  TRunSettings s;
  s.File.StartNumber = 40;
  TWorker w;
  w.P.Settings = &s;
  w.P.Number = 2;
  EXPECT_EQ(ExpandedOverlayText("<n>", w.P), "42");
  s.File.ResetType = 1;  // continues from the running number
  const int32_t saved = NextSerialNumber;
  NextSerialNumber = 500;
  EXPECT_EQ(ExpandedOverlayText("<n>", w.P), "502");
  NextSerialNumber = saved;
}

TEST(FontChoice, StoredNamesResolveToInstalledFonts) {
  const std::string japanese = JapaneseFamilies();
  ASSERT_FALSE(japanese.empty()) << "no Japanese font installed (scripts/install-deps)";
  struct Case {
    const char *Name;
    uint8_t Charset;
    bool Japanese;  // must resolve to a font fontconfig lists for Japanese
    bool Notice;    // a fallback the log hears of
  } cases[] = {
      {"ＭＳ Ｐゴシック", 128, true, false},
      {"ＭＳ ゴシック", 128, true, false},
      {"MS PGothic", 0, true, false},
      {"メイリオ", 128, true, false},
      {"DejaVu Sans", 0, false, false},
      {"dejavu sans", 0, false, false},
      {"Arial", 0, false, false},
      {"No Such Font Anywhere", 0, false, true},
      {"No Such Font Anywhere", 128, true, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.Name) + " charset " + std::to_string(c.Charset));
    const TResolvedFont f = ResolveFont(c.Name, c.Charset, 0);
    EXPECT_FALSE(f.File.empty());
    if (c.Japanese) {
      EXPECT_NE(japanese.find(f.Family), std::string::npos) << f.Family;
    }
    EXPECT_EQ(!f.Notice.empty(), c.Notice) << f.Notice;
    if (c.Notice) {
      EXPECT_NE(f.Notice.find(c.Name), std::string::npos);
    }
  }
}

TEST(FontChoice, MissingBoldAndItalicFacesAreSynthesised) {
  // IPA fonts have no bold or italic face; DejaVu Sans has both.
  const TResolvedFont ipa = ResolveFont("ＭＳ Ｐゴシック", 128, FONT_STYLE_BOLD | FONT_STYLE_ITALIC);
  EXPECT_TRUE(ipa.SynthBold);
  EXPECT_TRUE(ipa.SynthItalic);
  const TResolvedFont dejavu = ResolveFont("DejaVu Sans", 0, FONT_STYLE_BOLD);
  EXPECT_FALSE(dejavu.SynthBold);
  EXPECT_FALSE(dejavu.SynthItalic);
}

TEST(TextMask, JapaneseAndLatinLinesHaveInkInsideTheBlock) {
  struct Case {
    const char *Name;
    const char *Text;
    const char *Font;
  } cases[] = {
      {"Japanese", "日本語の文字入れ", "ＭＳ Ｐゴシック"},
      {"Latin with descenders", "Typography: jumpy quags", "DejaVu Sans"},
      {"Japanese and Latin lines", "撮影日\r\nPhoto day", "ＭＳ Ｐゴシック"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TFontCache cache;
    TMask m;
    Render(cache, c.Text, FontOf(c.Font, 20, 0, 128), 3, m);
    ASSERT_NE(m.I->Mem, nullptr);
    EXPECT_EQ(m.I->Channels, 1u);
    EXPECT_EQ(m.I->BPP, uint32_t(BPP_8));
    const TMask::TBox ink = m.Ink();
    ASSERT_GE(ink.X0, 0) << "no ink";
    // The margins stay clear (the reduction may spread a pixel into them).
    EXPECT_GE(ink.X0, 2);
    EXPECT_GE(ink.Y0, 2);
    EXPECT_LE(ink.X1, int64_t(m.I->Width) - 2);
    EXPECT_LE(ink.Y1, int64_t(m.I->Height) - 2);
    // Glyphs reach full coverage somewhere: strokes, not a haze.
    uint8_t peak = 0;
    for (uint32_t y = 0; y < m.I->Height; ++y)
      for (uint32_t x = 0; x < m.I->Width; ++x) peak = std::max(peak, m.At(x, y));
    EXPECT_GE(peak, 250);
  }
}

TEST(TextMask, JapaneseGlyphsAreDrawnNotMissingBoxes) {
  // Distinct kanji give distinct masks; a font without them would draw the
  // same missing-glyph box for each.
  TFontCache cache;
  TMask a, b;
  Render(cache, "日", FontOf("ＭＳ Ｐゴシック", 20, 0, 128), 0, a);
  Render(cache, "本", FontOf("ＭＳ Ｐゴシック", 20, 0, 128), 0, b);
  ASSERT_EQ(a.I->Width, b.I->Width);
  EXPECT_NE(Checksum(a), Checksum(b));
  // A Latin font asked for Japanese text takes the kanji from a font that has them.
  TMask c, d;
  Render(cache, "日", FontOf("DejaVu Sans", 20), 0, c);
  Render(cache, "本", FontOf("DejaVu Sans", 20), 0, d);
  EXPECT_NE(Checksum(c), Checksum(d));
}

TEST(TextMask, DescendersReachBelowTheBaseline) {
  TFontCache cache;
  TMask flat, deep;
  Render(cache, "acemnorsuvwxz", FontOf("DejaVu Sans", 20), 0, flat);
  Render(cache, "gjpqy", FontOf("DejaVu Sans", 20), 0, deep);
  ASSERT_EQ(flat.I->Height, deep.I->Height);  // one line height whatever the letters
  EXPECT_GT(deep.Ink().Y1, flat.Ink().Y1 + 2);
}

TEST(TextMask, StyleBitsChangeTheMask) {
  for (const char *font : {"DejaVu Sans", "ＭＳ Ｐゴシック"}) {
    SCOPED_TRACE(font);
    TFontCache cache;
    TMask plain, bold, italic, under, strike;
    Render(cache, "Hello", FontOf(font, 24), 0, plain);
    Render(cache, "Hello", FontOf(font, 24, FONT_STYLE_BOLD), 0, bold);
    Render(cache, "Hello", FontOf(font, 24, FONT_STYLE_ITALIC), 0, italic);
    Render(cache, "Hello", FontOf(font, 24, FONT_STYLE_UNDERLINE), 0, under);
    Render(cache, "Hello", FontOf(font, 24, FONT_STYLE_STRIKEOUT), 0, strike);
    EXPECT_GT(bold.Sum(), plain.Sum() * 11 / 10);  // heavier strokes
    EXPECT_NE(Checksum(italic), Checksum(plain));
    EXPECT_GT(under.Sum(), plain.Sum());
    EXPECT_GT(under.Ink().Y1, plain.Ink().Y1);  // the line lies under the letters
    EXPECT_GT(strike.Sum(), plain.Sum());
    EXPECT_EQ(strike.Ink().Y1, plain.Ink().Y1);  // through them, not below
  }
}

TEST(TextMask, KnownStringAtAKnownSizeIsStable) {
  // Looked at: "Tessivo 2013" in DejaVu Sans at 16 pt, white on black, 2 px
  // margins. The checksum pins FreeType, HarfBuzz and the reduction together.
  TFontCache cache;
  TMask m;
  Render(cache, "Tessivo 2013", FontOf("DejaVu Sans", 16), 2, m);
  EXPECT_EQ(m.I->Width, 142u);
  EXPECT_EQ(m.I->Height, 30u);
  EXPECT_EQ(Checksum(m), 18406598750108675972ull);
}

TEST(TextMask, LinePitchAndMarginsSizeTheBlock) {
  TFontCache cache;
  TMask one, two, pitched, margins;
  const TFont f = FontOf("DejaVu Sans", 12);
  cache.GetAntialiasingText("Ab", f, nullptr, AntialiasingResizer, 0, 0, 0, 0, 0, *one.I);
  cache.GetAntialiasingText("Ab\r\nAb", f, nullptr, AntialiasingResizer, 0, 0, 0, 0, 0, *two.I);
  cache.GetAntialiasingText("Ab\r\nAb", f, nullptr, AntialiasingResizer, 0, 0, 0, 0, 10, *pitched.I);
  cache.GetAntialiasingText("Ab", f, nullptr, AntialiasingResizer, 4, 3, 2, 1, 0, *margins.I);
  // At four times the size: h4 per line; the block is reduced by (v + 3) div 4.
  const uint32_t h = one.I->Height;
  EXPECT_NEAR(double(two.I->Height), 2.0 * h, 1.0);
  EXPECT_NEAR(double(pitched.I->Height), double(two.I->Height) + 10, 1.0);
  EXPECT_EQ(margins.I->Width, one.I->Width + 4);   // left 1 + right 3
  EXPECT_EQ(margins.I->Height, one.I->Height + 6);  // top 2 + bottom 4
  EXPECT_EQ(two.I->Width, one.I->Width);
}

TEST(TextMask, SameTextAndFontAreDrawnOnce) {
  // The call after the first differs in one thing; only the colour, which is
  // not part of the mask, lets the cache answer.
  struct TCall {
    std::string Text = "2013/05/01";
    TFont Font = FontOf("DejaVu Sans", 14, 0, 0);
    double Bottom = 2, Right = 2, Top = 2, Left = 2, Pitch = 0;
  };
  struct Case {
    const char *Name;
    void (*Change)(TCall &);
    bool Cached;
  } cases[] = {
      {"the same call", [](TCall &) {}, true},
      {"another colour", [](TCall &c) { c.Font.Color = 0x0000FF; }, true},
      {"another text", [](TCall &c) { c.Text = "2013/05/02"; }, false},
      {"another font", [](TCall &c) { c.Font.Name = "DejaVu Serif"; }, false},
      {"another size", [](TCall &c) { c.Font.Size = 15; }, false},
      {"another style", [](TCall &c) { c.Font.Style = FONT_STYLE_UNDERLINE; }, false},
      {"another charset", [](TCall &c) { c.Font.Charset = 128; }, false},
      {"another line pitch", [](TCall &c) { c.Pitch = 1; }, false},
      {"another bottom margin", [](TCall &c) { c.Bottom = 3; }, false},
      {"another right margin", [](TCall &c) { c.Right = 3; }, false},
      {"another top margin", [](TCall &c) { c.Top = 3; }, false},
      {"another left margin", [](TCall &c) { c.Left = 3; }, false},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.Name);
    TFontCache cache;
    TCall first, second;
    k.Change(second);
    TMask a, b;
    for (auto [call, mask] : {std::pair{&first, &a}, std::pair{&second, &b}})
      cache.GetAntialiasingText(call->Text, call->Font, nullptr, AntialiasingResizer, call->Bottom, call->Right,
                                call->Top, call->Left, call->Pitch, *mask->I);
    EXPECT_EQ(cache.RenderCount(), k.Cached ? 1u : 2u);
    EXPECT_NE(a.I->Mem, b.I->Mem);  // each call gets its own block
    if (k.Cached) {
      EXPECT_EQ(Checksum(a), Checksum(b));
    }
  }
}

TEST(AddText, ConsecutiveFilesOfOneWorkerRenderTheTextOnce) {
  auto e = PlainText("<ymd>");
  e->FParam.Shadow = e->FParam.Glow = LongTrue;
  TWorker w;
  w.P.Time = DateTime(2013, 5, 1, 10, 20, 30);
  for (int file = 0; file < 3; ++file) {
    TTestImage img(200, 80, 3, BPP_8);
    FillGray(img, 90);
    w.P.Number = file;
    e->DoEffect(img.I, w.P);
    EXPECT_GE(Changed(img, 90).X0, 0);
  }
  ASSERT_TRUE(w.P.FontCache);
  EXPECT_EQ(w.P.FontCache->RenderCount(), 1u);
  w.P.Time = DateTime(2013, 5, 2, 0, 0, 0);  // another day: another text
  TTestImage img(200, 80, 3, BPP_8);
  e->DoEffect(img.I, w.P);
  EXPECT_EQ(w.P.FontCache->RenderCount(), 2u);
}

TEST(AddText, EveryAnchorPlacesTheBlockWhereTheArithmeticSays) {
  // With a background box the changed pixels are exactly the block.
  const int32_t W = 300, H = 200;
  TFontCache probe;
  TMask m;
  const TFont f = FontOf("DejaVu Sans", 12);
  TAddTextParam P;
  P.Shadow = P.Glow = LongFalse;
  P.MarginX = 5, P.MarginY = 3;
  const TTextMargins mg = TextMargins(P);
  probe.GetAntialiasingText("Anchor", f, nullptr, AntialiasingResizer, mg.Bottom, mg.Right, mg.Top, mg.Left, 0, *m.I);
  const int32_t w = int32_t(m.I->Width), h = int32_t(m.I->Height);
  for (int32_t anchor = 0; anchor < 9; ++anchor)
    for (const auto &[ox, oy] : {std::pair{0, 0}, std::pair{7, -4}}) {
      SCOPED_TRACE("anchor " + std::to_string(anchor) + " offset " + std::to_string(ox) + "," + std::to_string(oy));
      auto e = PlainText("Anchor");
      e->FParam = P;
      e->FParam.Position = anchor;
      e->FParam.XOffset = ox, e->FParam.YOffset = oy;
      e->FParam.BackOpacity = 100, e->FParam.BackColor = 0x0000FF;
      TWorker wk;
      TTestImage img(W, H, 3, BPP_8);
      FillGray(img, 90);
      e->DoEffect(img.I, wk.P);
      const int32_t col = anchor / 3, row = anchor % 3;
      const int32_t x = ox + (col == 0 ? 0 : col == 1 ? (W - w) / 2 : W - w);
      const int32_t y = oy + (row == 0 ? 0 : row == 1 ? (H - h) / 2 : H - h);
      const TMask::TBox b = Changed(img, 90);
      // Clipped to the picture where an offset pushes the block over an edge.
      EXPECT_EQ(b.X0, std::max(0, x));
      EXPECT_EQ(b.Y0, std::max(0, y));
      EXPECT_EQ(b.X1, std::min(W, x + w));
      EXPECT_EQ(b.Y1, std::min(H, y + h));
    }
}

TEST(AddText, CentredBlockIncludesMarginsAndPadding) {
  // Position 4: the block with its margins and the shadow and glow padding
  // is centred; the ink lies inside it, the shadow reaching its offset.
  auto e = PlainText("Centre");
  TAddTextParam &P = e->FParam;
  P.Position = 4, P.MarginX = 6, P.MarginY = 2;
  P.Shadow = P.Glow = LongTrue;
  P.ShadowOffsetX = 3, P.ShadowOffsetY = 3;
  const TTextMargins mg = TextMargins(P);
  EXPECT_EQ(mg.Left, 6 + 7 + 3);  // margin, ceil(glow 6 + 0.5), ceil(shadow 2 + 0.5)
  EXPECT_EQ(mg.Top, 2 + 7 + 3);
  TFontCache probe;
  TMask m;
  probe.GetAntialiasingText("Centre", e->FFont, nullptr, AntialiasingResizer, mg.Bottom, mg.Right, mg.Top, mg.Left, 0,
                            *m.I);
  const int32_t W = 321, H = 157, w = int32_t(m.I->Width), h = int32_t(m.I->Height);
  TWorker wk;
  TTestImage img(W, H, 3, BPP_8);
  FillGray(img, 90);
  e->DoEffect(img.I, wk.P);
  const int32_t x = (W - w) / 2, y = (H - h) / 2;
  const TMask::TBox b = Changed(img, 90);
  EXPECT_GE(b.X0, x);
  EXPECT_GE(b.Y0, y);
  EXPECT_LE(b.X1, x + w + 3);
  EXPECT_LE(b.Y1, y + h + 3);
  // The ink itself sits at the centre, give or take the letters' own shape.
  TTestImage bare(W, H, 3, BPP_8);
  FillGray(bare, 90);
  auto plain = PlainText("Centre");
  plain->FParam.Position = 4;
  TWorker wk2;
  plain->DoEffect(bare.I, wk2.P);
  const TMask::TBox t = Changed(bare, 90);
  EXPECT_NEAR((t.X0 + t.X1) / 2.0, W / 2.0, 3.0);
  EXPECT_NEAR((t.Y0 + t.Y1) / 2.0, H / 2.0, 4.0);
}

TEST(AddText, ShadowGlowBoxAndTextColours) {
  // Red text, green glow, blue shadow far to the right: each shows where it should.
  auto e = PlainText("III");
  e->FFont = FontOf("DejaVu Sans", 30, FONT_STYLE_BOLD);
  e->FFont.Color = 0x0000FF;  // red (0x00BBGGRR)
  TAddTextParam &P = e->FParam;
  P.Position = 0;
  P.Shadow = LongTrue, P.ShadowColor = 0xFF0000, P.ShadowOpacity = 100, P.ShadowOffsetX = 40, P.ShadowOffsetY = 0;
  P.Glow = LongTrue, P.GlowColor = 0x00FF00, P.GlowOpacity = 100;
  TWorker wk;
  TTestImage img(200, 100, 3, BPP_8);
  FillGray(img, 0);
  e->DoEffect(img.I, wk.P);
  uint64_t red = 0, green = 0, blue = 0, blueRight = 0, blueLeft = 0;
  const int32_t mid = int32_t(Changed(img, 0).X0 + Changed(img, 0).X1) / 2;
  for (uint32_t y = 0; y < 100; ++y)
    for (uint32_t x = 0; x < 200; ++x) {
      const uint32_t m = 99 - y;
      const int32_t b = img.Get(x, m, 0), g = img.Get(x, m, 1), r = img.Get(x, m, 2);
      if (r > 200 && g < 60 && b < 60) ++red;
      if (g > 100 && r < g && b < g) ++green;
      if (b > 100 && r < b && g < b) {
        ++blue;
        (int32_t(x) > mid ? blueRight : blueLeft) += 1;
      }
    }
  EXPECT_GT(red, 50u);
  EXPECT_GT(green, 50u);
  EXPECT_GT(blue, 50u);
  EXPECT_GT(blueRight, blueLeft);  // the shadow went right
}

TEST(AddText, GlyphsAreKnockedOutOfTheBoxShadowAndGlow) {
  // With the text itself invisible, the picture shows through the glyphs:
  // the box, the shadow (at offset 0) and the glow each leave them out.
  struct Case {
    const char *Name;
    bool Box, Shadow, Glow;
    int32_t ShadowOffset;
  } cases[] = {{"box", true, false, false, 0},
               {"shadow", false, true, false, 0},
               {"shadow moved down and right", false, true, false, 5},
               {"glow", false, false, true, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    auto e = PlainText("H");
    e->FFont = FontOf("DejaVu Sans", 40, FONT_STYLE_BOLD);
    TAddTextParam &P = e->FParam;
    P.Position = 0, P.FontOpacity = 0;
    P.BackOpacity = c.Box ? 100 : 0, P.BackColor = 0xFF0000;
    P.Shadow = c.Shadow ? LongTrue : LongFalse, P.ShadowOffsetX = P.ShadowOffsetY = c.ShadowOffset;
    P.ShadowOpacity = 100;
    P.ShadowColor = 0xFF0000, P.ShadowRadius = 4;
    P.Glow = c.Glow ? LongTrue : LongFalse, P.GlowColor = 0xFF0000, P.GlowOpacity = 100;
    TWorker wk;
    TTestImage img(120, 100, 3, BPP_8);
    FillGray(img, 90);
    e->DoEffect(img.I, wk.P);
    // The mask of the same block tells where the glyph cores are.
    TFontCache probe;
    TMask m;
    const TTextMargins mg = TextMargins(P);
    probe.GetAntialiasingText("H", e->FFont, nullptr, AntialiasingResizer, mg.Bottom, mg.Right, mg.Top, mg.Left, 0,
                              *m.I);
    uint32_t cores = 0, blueAround = 0;
    for (uint32_t y = 0; y < m.I->Height; ++y)
      for (uint32_t x = 0; x < m.I->Width; ++x) {
        const int32_t b = img.Get(x, 99 - y, 0);
        if (m.At(x, y) == 255) {
          ++cores;
          EXPECT_EQ(b, 90) << x << "," << y;
        } else if (m.At(x, y) == 0 && b > 120) {
          ++blueAround;
        }
      }
    EXPECT_GT(cores, 50u);
    EXPECT_GT(blueAround, 50u);  // the colour is there around the glyphs
  }
}

TEST(AddText, NothingIsDrawnForAnEmptyText) {
  for (const char *text : {"", "<>", "<unterminated"}) {
    SCOPED_TRACE(text);
    auto e = PlainText(text);
    e->FParam.BackOpacity = 100;
    TWorker wk;
    TTestImage img(60, 40, 3, BPP_8);
    FillGray(img, 90);
    e->DoEffect(img.I, wk.P);
    EXPECT_LT(Changed(img, 90).X0, 0);
  }
}

TEST(AddText, UnknownFontFallsBackWithOneLogLine) {
  std::vector<std::string> lines;
  SetLoadWarningProc([&](const std::string &L) { lines.push_back(L); });
  auto e = PlainText("Fallback");
  e->FFont.Name = "Nonexistent Typeface 42";
  TWorker wk;
  for (int file = 0; file < 2; ++file) {
    TTestImage img(200, 60, 3, BPP_8);
    FillGray(img, 90);
    e->DoEffect(img.I, wk.P);
    EXPECT_GE(Changed(img, 90).X0, 0);  // drawn with the stand-in
  }
  e->FText = "Another text";  // drawn again, the font already known
  TTestImage img(200, 60, 3, BPP_8);
  e->DoEffect(img.I, wk.P);
  SetLoadWarningProc(nullptr);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("IMG_0001.JPG"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("Nonexistent Typeface 42"), std::string::npos) << lines[0];
}

TEST(AddText, GrayPicturesTakeTheTextColoursLowByte) {
  auto e = PlainText("Gray");
  e->FFont.Color = 0x0000C8;  // red 200
  e->FParam.Position = 0;
  TWorker wk;
  TTestImage img(100, 40, 1, BPP_8);
  FillGray(img, 0);
  e->DoEffect(img.I, wk.P);
  int32_t peak = 0;
  for (uint32_t y = 0; y < 40; ++y)
    for (uint32_t x = 0; x < 100; ++x) peak = std::max(peak, img.Get(x, y, 0));
  EXPECT_EQ(peak, 200);
}

TEST(AddTextSettings, DefaultsLineBreaksAndTheOlderPositionKey) {
  {
    TAddTextEffect e;
    TMemIniFile ini;
    e.ReadIniFile(ini);
    EXPECT_EQ(e.FText, "<ymdhn>");
    EXPECT_EQ(e.FFont.Name, "ＭＳ Ｐゴシック");
    EXPECT_EQ(e.FFont.Charset, 128);
    EXPECT_EQ(e.FFont.Size, 20);
    EXPECT_EQ(e.FFont.Color, 16777215u);
    EXPECT_EQ(e.FFont.Style, 0);
    const TAddTextParam &P = e.FParam;
    EXPECT_EQ(P.Position, 8);
    EXPECT_EQ(P.FontOpacity, 100);
    EXPECT_EQ(P.BackColor, 16777215);
    EXPECT_EQ(P.BackOpacity, 0);
    EXPECT_NE(P.Shadow, 0);
    EXPECT_EQ(P.ShadowOpacity, 75);
    EXPECT_DOUBLE_EQ(P.ShadowRadius, 2.0);
    EXPECT_EQ(P.ShadowStr, 4);
    EXPECT_EQ(P.ShadowOffsetX, 2);
    EXPECT_NE(P.Glow, 0);
    EXPECT_EQ(P.GlowColor, 16776960);
    EXPECT_DOUBLE_EQ(P.GlowRadius, 6.0);
    EXPECT_EQ(P.GlowStr, 8);
  }
  struct Case {
    const char *Stored;  // "Position" value, or null for "BasePos=4"
    int32_t Anchor;
  } cases[] = {{"0", 0}, {"1", 2}, {"2", 6}, {"3", 8}, {"7", 8}, {nullptr, 4}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Stored ? c.Stored : "BasePos");
    TMemIniFile ini;
    if (c.Stored) ini.WriteString("AddText", "Position", c.Stored);
    else ini.WriteInteger("AddText", "BasePos", 4), ini.WriteInteger("AddText", "Position", 0);
    ini.WriteString("AddText", "Text", "撮影 <ymd>\\n<old>");
    TAddTextEffect e;
    e.ReadIniFile(ini);
    EXPECT_EQ(e.FParam.Position, c.Anchor);
    EXPECT_EQ(e.FText, "撮影 <ymd>\r\n<old>");
    TMemIniFile out;
    out.WriteString("AddText", "Position", "2");
    e.WriteIniFile(out);
    EXPECT_FALSE(out.ValueExists("AddText", "Position"));
    EXPECT_EQ(out.ReadInteger("AddText", "BasePos", -1), c.Anchor);
    EXPECT_EQ(out.ReadString("AddText", "Text", ""), "撮影 <ymd>\\n<old>");
  }
}

TEST(AddTextSettings, StreamRecordIsTheFixedLayout) {
  TAddTextEffect e;
  TAddTextParam &P = e.FParam;
  P.Position = 5, P.XOffset = -3, P.LinePitch = 1.5, P.ShadowRadius = 2.25, P.GlowRadius = 7.5, P.GlowStr = 9;
  e.FText = "ab";
  e.FFont = FontOf("X", 33, FONT_STYLE_ITALIC, 128);
  e.FFont.Color = 0x123456;
  std::vector<uint8_t> s;
  e.WriteParamToStream(s);
  ASSERT_EQ(s.size(), 104u + 4 + 4 + 4 + 2 + 16);
  // On this little-endian machine the record is its own bytes, padding zero.
  TAddTextParam copy = P;
  uint8_t raw[104];
  std::memcpy(raw, &copy, 104);
  std::memset(raw + 52, 0, 4);
  std::memset(raw + 100, 0, 4);
  EXPECT_EQ(std::memcmp(s.data(), raw, 104), 0);
  double pitch;
  std::memcpy(&pitch, s.data() + 32, 8);
  EXPECT_EQ(pitch, 1.5);
  const uint8_t tail[] = {2, 0, 0, 0, 'a', 0, 'b', 0, 1, 0, 0, 0, 'X', 0, 128, 0, 0, 0, 33, 0, 0, 0,
                          0x56, 0x34, 0x12, 0, 2, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(s.begin() + 104, s.end()), std::vector<uint8_t>(std::begin(tail), std::end(tail)));
}

}  // namespace
