// The BMP reader: the BMP suite (valid files against their reference
// pictures, broken files refused with a message, questionable files decoded
// or refused cleanly), and small files made here for the rules the suite
// does not pin down (header sizes, alpha detection, 16-bit alpha layouts,
// hostile offsets and RLE codes).
#include "io/Bitmap.h"

#include "core/Errors.h"
#include "io/FormatOption.h"
#include "io/LoadPicture.h"
#include "io/tests/LoadTestUtil.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <map>

using namespace loadtest;

namespace {

// Valid files that have no reference of their own look like another one.
const std::map<std::string, std::string> SameLook = {
    {"pal1wb", "pal1"},       {"pal4rle", "pal4"},        {"pal8-0", "pal8"},   {"pal8os2", "pal8"},
    {"pal8rle", "pal8"},      {"pal8topdown", "pal8"},    {"pal8v4", "pal8"},   {"pal8v5", "pal8"},
    {"rgb16-565pal", "rgb16-565"}, {"rgb16bfdef", "rgb16"}, {"rgb24pal", "rgb24"}, {"rgb32", "rgb24"},
    {"rgb32bf", "rgb24"},     {"rgb32bfdef", "rgb24"},
};

bool LoadReference(const std::string &Name, TICCImgInfo &Ref) {
  const std::string dir = TestDataDir("bmpsuite/reference");
  const auto bytes = ReadFile(dir + "/" + Name + ".png");
  if (bytes.empty()) return false;
  LoadPNGFromMemory(bytes.data(), bytes.size(), Ref, true);
  return true;
}

// A refusal: the reader's message followed by what it found, in brackets.
bool IsRefusal(const std::string &What, const char *Message) {
  const std::string lead = std::string(Message) + " (";
  return What.rfind(lead, 0) == 0 && What.size() > lead.size() + 1 && What.back() == ')';
}

TEST(BmpSuite, ValidFilesMatchTheirReferences) {
  const std::string dir = TestDataDir("bmpsuite/g");
  TESSIVO_REQUIRE(!dir.empty()) << "no bmpsuite";
  TESSIVO_REQUIRE(BindPixio()) << "codec library missing (references are PNG)";
  int compared = 0;
  const auto files = ListFiles(dir, ".bmp");
  ASSERT_FALSE(files.empty());
  for (const auto &path : files) {
    const std::string name = path.stem().string();
    SCOPED_TRACE(name);
    const auto bytes = ReadFile(path.string());
    TImg img;
    ASSERT_NO_THROW(LoadBitmapFromMemory(bytes.data(), bytes.size(), img.I, ALPHA_CHECK_DETECT));
    EXPECT_EQ(img.I.BPP, BPP_8);
    EXPECT_EQ(img.I.PixelFormat, img.I.Channels == 1 ? PIXFMT_GRAY : img.I.Channels == 3 ? PIXFMT_BGR : PIXFMT_BGRA);
    std::string refName = name;
    if (auto it = SameLook.find(name); it != SameLook.end()) refName = it->second;
    TImg ref;
    if (!LoadReference(refName, ref.I)) continue;
    const TCompare c = CompareImages(img.I, ref.I);
    ASSERT_TRUE(c.SameSize) << img.I.Width << "x" << img.I.Height;
    // 5-bit samples widen by repeating their top bits ((v << 3) | (v >> 2)),
    // which can sit one level off the reference's rounding.
    EXPECT_LE(c.MaxColor, name.starts_with("rgb16") ? 1 : 0);
    EXPECT_EQ(c.MaxAlpha, 0);
    ++compared;
  }
  EXPECT_GE(compared, 25);
  std::printf("bmpsuite g/: %zu files decoded, %d compared with a reference\n", files.size(), compared);
}

TEST(BmpSuite, BrokenFilesAreRefusedWithAMessage) {
  const std::string dir = TestDataDir("bmpsuite/b");
  TESSIVO_REQUIRE(!dir.empty()) << "no bmpsuite";
  const auto files = ListFiles(dir, ".bmp");
  ASSERT_FALSE(files.empty());
  for (const auto &path : files) {
    SCOPED_TRACE(path.filename().string());
    const auto bytes = ReadFile(path.string());
    TImg img;
    std::string what;
    try {
      LoadBitmapFromMemory(bytes.data(), bytes.size(), img.I, ALPHA_CHECK_DETECT);
      ADD_FAILURE() << "decoded " << img.I.Width << "x" << img.I.Height;
    } catch (const ETessivoError &e) {
      what = e.what();
      EXPECT_TRUE(IsRefusal(what, BMP_UNSUPPORTED_MSG) || IsRefusal(what, BMP_BROKEN_MSG)) << what;
      EXPECT_EQ(img.I.Mem, nullptr);
    }
    // Through the loader the file raises the reader's reason and logs nothing.
    std::vector<std::string> lines;
    SetLoadErrorProc([&](const std::string &L) { lines.push_back(L); });
    TImageProbe entry;
    if (ProbeImageFile(path.string(), entry)) {
      TImg loaded;
      EXPECT_EQ(LoadFailure(entry, loaded), std::string(LOAD_FAILED_MSG) + " (" + what + ")");
      EXPECT_EQ(loaded.I.Mem, nullptr);
      EXPECT_TRUE(lines.empty()) << lines[0];
    }
    SetLoadErrorProc(nullptr);
  }
}

TEST(BmpSuite, QuestionableFilesDecodeOrFailCleanly) {
  const std::string dir = TestDataDir("bmpsuite/q");
  TESSIVO_REQUIRE(!dir.empty()) << "no bmpsuite";
  const bool refs = BindPixio();
  int decoded = 0, refused = 0, matching = 0, withReference = 0;
  for (const auto &path : ListFiles(dir, ".bmp")) {
    const std::string name = path.stem().string();
    SCOPED_TRACE(name);
    const auto bytes = ReadFile(path.string());
    TImg img;
    try {
      LoadBitmapFromMemory(bytes.data(), bytes.size(), img.I, ALPHA_CHECK_DETECT);
    } catch (const ETessivoError &e) {
      EXPECT_NE(std::string(e.what()), "");
      EXPECT_EQ(img.I.Mem, nullptr);
      std::printf("  q/%s refused: %s\n", name.c_str(), e.what());
      ++refused;
      continue;
    }
    ++decoded;
    TImg ref;
    if (refs && LoadReference(name, ref.I)) {
      ++withReference;
      const TCompare c = CompareImages(img.I, ref.I);
      if (c.SameSize && c.MaxColor <= 1 && c.MaxAlpha <= 1) ++matching;
      else std::printf("  q/%s differs from its reference (colour %d, alpha %d)\n", name.c_str(), c.MaxColor, c.MaxAlpha);
    }
  }
  std::printf("bmpsuite q/: %d decoded (%d of %d with a reference match it), %d refused\n", decoded, matching,
              withReference, refused);
}

// --- files made here ---

std::string ErrorOf(const std::vector<uint8_t> &Bytes, int32_t AlphaCheck = ALPHA_CHECK_DETECT) {
  TImg img;
  try {
    LoadBitmapFromMemory(Bytes.data(), Bytes.size(), img.I, AlphaCheck);
  } catch (const ETessivoError &e) {
    EXPECT_EQ(img.I.Mem, nullptr);
    return e.what();
  }
  return {};
}

TEST(BitmapReader, InfoHeaderSizesOutsideTheKnownOnesAreUnsupported) {
  for (uint32_t size : {39u, 41u, 125u, 200u}) {
    TBmpSpec s;
    s.HeaderSize = size;
    s.Pixels.assign(4, 0);
    EXPECT_EQ(ErrorOf(MakeBmp(s)), std::string(BMP_UNSUPPORTED_MSG) + " (unknown info header size)") << size;
  }
  for (uint32_t size : {40u, 108u, 124u}) {
    TBmpSpec s;
    s.HeaderSize = size;
    s.Pixels = {1, 2, 3, 0};
    EXPECT_EQ(ErrorOf(MakeBmp(s)), "") << size;
  }
  EXPECT_EQ(ErrorOf({'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
            std::string(BMP_UNSUPPORTED_MSG) + " (no BMP file header)");
}

struct AlphaCase {
  const char *Name;
  std::vector<std::array<uint8_t, 4>> Pixels;  // 2x2, bottom row first
  int32_t AlphaCheck;
  uint32_t Channels;
};
void PrintTo(const AlphaCase &c, std::ostream *os) {
  *os << c.Name << ": alpha bytes";
  for (const auto &p : c.Pixels) *os << " " << int(p[3]);
  *os << ", alpha check " << c.AlphaCheck << ", " << c.Channels << " channels expected";
}

class BitmapAlpha : public ::testing::TestWithParam<AlphaCase> {};

TEST_P(BitmapAlpha, ThirtyTwoBitWithoutBitFields) {
  const AlphaCase &c = GetParam();
  TBmpSpec s;
  s.Width = 2, s.Height = 2, s.BitCount = 32;
  s.Pixels = Pixels32(c.Pixels);
  const auto file = MakeBmp(s);
  TImg img;
  LoadBitmapFromMemory(file.data(), file.size(), img.I, c.AlphaCheck);
  ASSERT_EQ(img.I.Channels, c.Channels);
  EXPECT_EQ(img.I.PixelFormat, c.Channels == 4 ? PIXFMT_BGRA : PIXFMT_BGR);
  // Bottom-left pixel is the first in the file.
  const auto p = PixelAt(img.I, 0, 1);
  EXPECT_EQ(p[0], c.Pixels[0][0]);
  EXPECT_EQ(p[2], c.Pixels[0][2]);
  if (c.Channels == 4) {
    EXPECT_EQ(p[3], c.Pixels[0][3]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BitmapAlpha,
    ::testing::Values(
        AlphaCase{"AllZeroIsPadding", {{10, 20, 30, 0}, {1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}}, ALPHA_CHECK_DETECT, 3},
        AlphaCase{"FirstZeroLater255IsAlpha", {{10, 20, 30, 0}, {1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 255}}, ALPHA_CHECK_DETECT, 4},
        AlphaCase{"First255LaterOtherIsAlpha", {{10, 20, 30, 255}, {1, 2, 3, 128}, {4, 5, 6, 255}, {7, 8, 9, 255}}, ALPHA_CHECK_DETECT, 4},
        AlphaCase{"FirstNeither0Nor255IsPadding", {{10, 20, 30, 7}, {1, 2, 3, 0}, {4, 5, 6, 255}, {7, 8, 9, 1}}, ALPHA_CHECK_DETECT, 3},
        AlphaCase{"All255IsPadding", {{10, 20, 30, 255}, {1, 2, 3, 255}, {4, 5, 6, 255}, {7, 8, 9, 255}}, ALPHA_CHECK_DETECT, 3},
        AlphaCase{"ForcedAlpha", {{10, 20, 30, 0}, {1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}}, ALPHA_CHECK_ARGB, 4},
        AlphaCase{"ForcedNoAlpha", {{10, 20, 30, 0}, {1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 255}}, ALPHA_CHECK_XRGB, 3}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(BitmapReader, PluginDIBsKeepTheirAlphaByte) {
  TBmpSpec s;
  s.Width = 1, s.Height = 1, s.BitCount = 32;
  s.Pixels = {1, 2, 3, 0};
  const auto file = MakeBmp(s);
  TImg img;
  LoadBitmapFromMemory(file.data(), file.size(), img.I, ALPHA_CHECK_XRGB, true);
  EXPECT_EQ(img.I.Channels, 4u);
  TImg dib;
  LoadDIBFromMemory(file.data() + 14, file.size() - 14, nullptr, 0, dib.I, ALPHA_CHECK_DETECT, true);
  EXPECT_EQ(dib.I.Channels, 4u);
  EXPECT_EQ(PixelAt(dib.I, 0, 0)[2], 3);
}

struct Alpha16Case {
  const char *Name;
  uint32_t Masks[4];
  uint16_t Pixel;
  std::array<int, 4> BGRA;
};
void PrintTo(const Alpha16Case &c, std::ostream *os) {
  *os << c.Name << std::hex << ": masks R 0x" << c.Masks[0] << " G 0x" << c.Masks[1] << " B 0x" << c.Masks[2]
      << " A 0x" << c.Masks[3] << ", pixel 0x" << c.Pixel << std::dec << " -> BGRA " << c.BGRA[0] << " " << c.BGRA[1]
      << " " << c.BGRA[2] << " " << c.BGRA[3];
}

class Bitmap16Alpha : public ::testing::TestWithParam<Alpha16Case> {};

TEST_P(Bitmap16Alpha, LayoutsExpandToEightBits) {
  const auto &c = GetParam();
  TBmpSpec s;
  s.HeaderSize = 56;
  s.Width = 1, s.Height = 1, s.BitCount = 16, s.Compression = 3;
  s.Masks.assign(c.Masks, c.Masks + 4);
  s.Pixels = {uint8_t(c.Pixel), uint8_t(c.Pixel >> 8), 0, 0};
  const auto file = MakeBmp(s);
  TImg img;
  LoadBitmapFromMemory(file.data(), file.size(), img.I, ALPHA_CHECK_DETECT);
  ASSERT_EQ(img.I.Channels, c.BGRA[3] < 0 ? 3u : 4u);
  auto p = PixelAt(img.I, 0, 0);
  if (c.BGRA[3] < 0) p[3] = -1;
  EXPECT_EQ(p, c.BGRA);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Bitmap16Alpha,
    ::testing::Values(
        // A4 R4 G4 B4: a = 0xC -> 204, r = 0x1 -> 17, g = 0x2 -> 34, b = 0xF -> 255
        Alpha16Case{"ARGB4444", {0x0F00, 0x00F0, 0x000F, 0xF000}, 0xC12F, {255, 34, 17, 204}},
        // A4 B4 G4 R4 (red in bits 0-3)
        Alpha16Case{"ABGR4444", {0x000F, 0x00F0, 0x0F00, 0xF000}, 0xC12F, {17, 34, 255, 204}},
        // R4 G4 B4 A4 (alpha in bits 0-3)
        Alpha16Case{"RGBA4444", {0xF000, 0x0F00, 0x00F0, 0x000F}, 0xC12F, {34, 17, 204, 255}},
        // 1-5-5-5 with its alpha bit
        Alpha16Case{"ARGB1555", {0x7C00, 0x03E0, 0x001F, 0x8000}, 0x801F, {255, 0, 0, 255}},
        // 5-6-5: 6-bit green 0x3F -> 255, 5-bit red 0x10 -> 132
        Alpha16Case{"RGB565", {0xF800, 0x07E0, 0x001F, 0}, 0x87E0, {0, 255, 132, -1}}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(BitmapReader, TopDownFilesComeOutBottomUp) {
  TBmpSpec s;
  s.Width = 1, s.Height = -2, s.BitCount = 24;
  s.Pixels = {1, 2, 3, 0, 4, 5, 6, 0};  // first row is the top one
  const auto file = MakeBmp(s);
  TImg img;
  LoadBitmapFromMemory(file.data(), file.size(), img.I, ALPHA_CHECK_DETECT);
  EXPECT_EQ(PixelAt(img.I, 0, 0)[0], 1);
  EXPECT_EQ(PixelAt(img.I, 0, 1)[0], 4);
}

TEST(BitmapReader, GrayPalettesGiveOneChannel) {
  TBmpSpec s;
  s.Width = 3, s.Height = 1, s.BitCount = 8;
  for (uint32_t i = 0; i < 256; ++i) s.Palette.push_back(i * 0x010101);
  s.Pixels = {0, 128, 255, 0};
  auto file = MakeBmp(s);
  TImg identity;
  LoadBitmapFromMemory(file.data(), file.size(), identity.I, ALPHA_CHECK_DETECT);
  EXPECT_EQ(identity.I.Channels, 1u);
  EXPECT_EQ(identity.I.ProfileType, PROFILE_DEFAULT_GRAY);
  EXPECT_EQ(PixelAt(identity.I, 1, 0)[0], 128);
  s.Palette = {0xFFFFFF, 0x000000};
  s.BitCount = 1, s.ClrUsed = 2;
  s.Pixels = {0x40, 0, 0, 0};  // 0 1 0
  file = MakeBmp(s);
  TImg bits;
  LoadBitmapFromMemory(file.data(), file.size(), bits.I, ALPHA_CHECK_DETECT);
  EXPECT_EQ(bits.I.Channels, 1u);
  EXPECT_EQ(PixelAt(bits.I, 0, 0)[0], 255);
  EXPECT_EQ(PixelAt(bits.I, 1, 0)[0], 0);
  s.Palette = {0xFF0000, 0x0000FF};
  file = MakeBmp(s);
  TImg colour;
  LoadBitmapFromMemory(file.data(), file.size(), colour.I, ALPHA_CHECK_DETECT);
  EXPECT_EQ(colour.I.Channels, 3u);
  EXPECT_EQ(PixelAt(colour.I, 1, 0), (std::array<int, 4>{255, 0, 0, 255}));
}

// Offsets, lengths and codes that do not fit the file.
TEST(BitmapReader, HostileFieldsAreRefusedAsBroken) {
  struct Case {
    const char *Name;
    TBmpSpec Desc;
    size_t Truncate;  // bytes cut from the end
  };
  std::vector<Case> cases;
  {
    TBmpSpec s;
    s.Width = 100, s.Height = 100, s.BitCount = 24;
    s.Pixels.assign(300, 0);  // far fewer rows than claimed
    cases.push_back({"ShortPixels", s, 0});
  }
  {
    TBmpSpec s;
    s.Pixels = {1, 2, 3, 0};
    s.OffsetOverride = 0x7FFFFFF0;
    cases.push_back({"OffsetPastTheEnd", s, 0});
  }
  {
    TBmpSpec s;
    s.Width = 0x7FFFFFFF, s.Height = 0x7FFFFFFF;
    s.Pixels = {1, 2, 3, 0};
    cases.push_back({"HugeSides", s, 0});
  }
  {
    TBmpSpec s;
    s.Width = -5;
    s.Pixels = {1, 2, 3, 0};
    cases.push_back({"NegativeWidth", s, 0});
  }
  {
    // RLE8 run below the last row, and a delta past the bottom.
    TBmpSpec s;
    s.Width = 4, s.Height = 2, s.BitCount = 8, s.Compression = 1;
    s.Palette = {0, 0xFFFFFF};
    s.Pixels = {0, 0, 0, 0, 2, 1, 0, 1};
    cases.push_back({"RLERunBelowLastRow", s, 0});
    s.Pixels = {0, 2, 0, 9, 2, 1, 0, 1};
    cases.push_back({"RLEDeltaPastBottom", s, 0});
    s.Pixels = {0, 200, 1, 1};  // absolute stretch longer than the data
    cases.push_back({"RLEAbsolutePastData", s, 0});
  }
  {
    TBmpSpec s;
    s.Width = 2, s.Height = 1, s.BitCount = 8, s.ClrUsed = 1;
    s.Palette = {0x123456};
    s.Pixels = {0, 7, 0, 0};  // index 7 of a 1-entry palette
    cases.push_back({"IndexOutsidePalette", s, 0});
  }
  {
    TBmpSpec s;
    s.Width = 2, s.Height = 2, s.BitCount = 24;
    s.Pixels.assign(16, 0);
    cases.push_back({"Truncated", s, 12});
  }
  for (const auto &c : cases) {
    auto file = MakeBmp(c.Desc);
    file.resize(file.size() - c.Truncate);
    EXPECT_TRUE(IsRefusal(ErrorOf(file), BMP_BROKEN_MSG)) << c.Name << ": " << ErrorOf(file);
  }
}

TEST(BitmapReader, EveryPrefixOfAValidFileFailsCleanly) {
  TBmpSpec s;
  s.Width = 3, s.Height = 2, s.BitCount = 4, s.Compression = 2;
  s.Palette = {0, 0xFF0000, 0x00FF00};
  s.Pixels = {3, 0x12, 0, 0, 2, 0x21, 0, 1};
  const auto file = MakeBmp(s);
  ASSERT_EQ(ErrorOf(file), "");
  for (size_t n = 0; n + 2 < file.size(); ++n) {
    const std::vector<uint8_t> cut(file.begin(), file.begin() + long(n));
    const std::string e = ErrorOf(cut);
    EXPECT_TRUE(IsRefusal(e, BMP_UNSUPPORTED_MSG) || IsRefusal(e, BMP_BROKEN_MSG)) << n << ": " << e;
  }
}

// Files the other readers decode although they bend the rules: RLE runs
// and stretches that reach past the end of their row (cut there), and DIBs
// without the file header (".dib"). ImageMagick reads the same bytes.
struct TLenientCase {
  const char *Name;
  TBmpSpec Desc;
  bool HeaderLess;
};

void PrintTo(const TLenientCase &C, std::ostream *Os) { *Os << C.Name; }

class LenientBitmap : public ::testing::TestWithParam<TLenientCase> {};

TEST_P(LenientBitmap, DecodesAsImageMagickDoes) {
  TESSIVO_REQUIRE(HaveProgram("convert")) << "ImageMagick's convert not installed (imagemagick)";
  const TLenientCase &c = GetParam();
  auto file = MakeBmp(c.Desc);
  if (c.HeaderLess) file.erase(file.begin(), file.begin() + 14);
  const TTempDir dir;
  const std::string path = dir / (std::string("f") + (c.HeaderLess ? ".dib" : ".bmp"));
  WriteFile(path, file);
  TMagickPicture ref;
  ASSERT_TRUE(MagickDecode((c.HeaderLess ? "dib:" : "bmp:") + path, ref));
  TImg img;
  ASSERT_EQ(ErrorOf(file), "");
  LoadBitmapFromMemory(file.data(), file.size(), img.I, ALPHA_CHECK_DETECT);
  EXPECT_EQ(MagickDifference(img.I, ref), 0);
  // The probe finds the file by its extension, and the loader decodes it.
  TImageProbe entry;
  ASSERT_TRUE(ProbeImageFile(path, entry));
  EXPECT_EQ(entry.PictureFormat, PICTURE_BMP);
  EXPECT_EQ(uint32_t(entry.Width), img.I.Width);
  EXPECT_EQ(uint32_t(entry.Height), img.I.Height);
  TImg loaded;
  EXPECT_EQ(LoadFailure(entry, loaded), "");
}

std::vector<TLenientCase> LenientCases() {
  std::vector<TLenientCase> v;
  TBmpSpec s;
  s.Width = 5, s.Height = 3, s.BitCount = 8, s.Compression = 1;
  s.Palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
  s.ClrUsed = 4;
  // A run of 9 in a row of 5, then rows that cover what a wrap would spill.
  s.Pixels = {2, 1, 9, 2, 0, 0, 5, 3, 0, 0, 5, 1, 0, 1};
  v.push_back({"RLE8RunPastItsRow", s, false});
  // An absolute stretch of 6 starting at 3.
  s.Pixels = {3, 1, 0, 6, 2, 3, 2, 3, 2, 3, 0, 0, 5, 2, 0, 0, 5, 1, 0, 1};
  v.push_back({"RLE8StretchPastItsRow", s, false});
  s.BitCount = 4, s.Compression = 2;
  s.Pixels = {1, 0x10, 8, 0x23, 0, 0, 5, 0x33, 0, 0, 5, 0x11, 0, 1};
  v.push_back({"RLE4RunPastItsRow", s, false});
  TBmpSpec d;
  d.Width = 3, d.Height = 2, d.BitCount = 24;
  d.Pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0, 0};
  v.push_back({"HeaderLessDIB24", d, true});
  d.Width = 4, d.BitCount = 8, d.ClrUsed = 3, d.Palette = {0x102030, 0x405060, 0x708090};
  d.Pixels = {0, 1, 2, 1, 2, 1, 0, 0};
  v.push_back({"HeaderLessDIB8", d, true});
  d.Height = -2;
  v.push_back({"HeaderLessDIBTopDown", d, true});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Files, LenientBitmap, ::testing::ValuesIn(LenientCases()),
                         [](const auto &I) { return std::string(I.param.Name); });

}  // namespace
