// read_png over the PNG suite: valid files give libpng's own pixels (checked
// against its simplified reader), broken ones fail without harm.
#include "io/tests/pixio/PixioTestUtil.h"
#include "testutil/TestEnv.h"

#include <png.h>

#include <algorithm>
#include <cstdio>

using namespace pixiotest;

namespace {

// Listed while the tests are discovered, so a missing folder must not throw:
// it yields one placeholder that the test skips at run time.
std::vector<std::filesystem::path> SuiteFiles() {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(std::string(TESSIVO_TESTDATA_DIR) + "/pngsuite", ec), end;
       !ec && it != end; it.increment(ec))
    if (it->path().extension() == ".png") files.push_back(it->path());
  std::sort(files.begin(), files.end());
  if (files.empty()) files.emplace_back("pngsuite-missing");
  return files;
}

uint32_t BE32(const uint8_t *p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

// The simplified reader converts to sRGB when a file declares another gamma or
// a profile; read_png delivers the stored samples. Dropping the colour chunks
// makes both mean the same.
std::vector<uint8_t> WithoutColourChunks(const std::vector<uint8_t> &d) {
  std::vector<uint8_t> out(d.begin(), d.begin() + 8);
  size_t pos = 8;
  while (pos + 12 <= d.size()) {
    const uint32_t len = BE32(&d[pos]);
    const std::string type(reinterpret_cast<const char *>(&d[pos + 4]), 4);
    const size_t end = pos + 12 + len;
    if (end > d.size()) break;
    if (type != "gAMA" && type != "cHRM" && type != "sRGB" && type != "iCCP" && type != "sBIT")
      out.insert(out.end(), d.begin() + long(pos), d.begin() + long(end));
    pos = end;
  }
  return out;
}

class PngSuite : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(PngSuite, MatchesLibpngOrFailsCleanly) {
  const auto path = GetParam();
  TESSIVO_REQUIRE(std::filesystem::exists(path)) << "no pngsuite folder";
  CaptureMessages();
  const auto data = ReadFile(path);
  Decoded ours;
  ours.D.WantBGColor = 1;
  const int ok = Lib().read_png(&ours.D, data.data(), data.size());
  if (path.filename().string()[0] == 'x') {
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(ours.D.Mem, nullptr);
    EXPECT_FALSE(LastMessage().empty());
    return;
  }
  ASSERT_NE(ok, 0) << LastMessage();
  const auto plain = WithoutColourChunks(data);
  png_image ref{};
  ref.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&ref, plain.data(), plain.size()));
  const uint32_t ch = ours.D.Channels;
  const bool deep = ours.D.BitsPerSample == 16;
  ref.format = ch == 1 ? PNG_FORMAT_GRAY : ch == 2 ? PNG_FORMAT_GA : ch == 3 ? PNG_FORMAT_BGR : PNG_FORMAT_BGRA;
  // Without colour chunks the simplified reader takes 16-bit samples as linear
  // and hands them back unchanged in its linear formats, with alpha premultiplied.
  if (deep) ref.format |= PNG_FORMAT_FLAG_LINEAR;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(ref));
  ASSERT_TRUE(png_image_finish_read(&ref, nullptr, pixels.data(), 0, nullptr)) << ref.message;
  ASSERT_EQ(ours.D.Width, ref.width);
  ASSERT_EQ(ours.D.Height, ref.height);
  EXPECT_EQ(ours.D.Bpl, deep ? GetAlignedBpl16(ref.width, ch) : GetAlignedBpl(ref.width, ch));
  const bool alpha = ch == 2 || ch == 4;
  const int tolerance = deep && alpha ? 1 : 0;  // rounding of the premultiplication
  int worst = 0;
  for (uint32_t y = 0; y < ref.height; ++y) {
    const uint8_t *o = ours.Row(y, false);  // read_png rows are bottom-up
    const uint8_t *r = pixels.data() + size_t(y) * ref.width * ch * (deep ? 2 : 1);
    for (uint32_t x = 0; x < ref.width; ++x)
      for (uint32_t c = 0; c < ch; ++c) {
        const size_t i = size_t(x) * ch + c;
        if (!deep) {
          worst = std::max(worst, std::abs(int(o[i]) - int(r[i])));
          continue;
        }
        auto at = [&](const uint8_t *p, size_t k) { return int(p[2 * k] | (p[2 * k + 1] << 8)); };
        int mine = at(o, i);
        if (alpha && c != ch - 1) mine = int((int64_t(mine) * at(o, size_t(x) * ch + ch - 1) + 32767) / 65535);
        worst = std::max(worst, std::abs(mine - at(r, i)));
      }
  }
  EXPECT_LE(worst, tolerance);
}

INSTANTIATE_TEST_SUITE_P(Files, PngSuite, ::testing::ValuesIn(SuiteFiles()),
                         [](const auto &info) {
                           std::string n = info.param.stem().string();
                           std::replace_if(n.begin(), n.end(), [](char c) { return !isalnum(c); }, '_');
                           return n;
                         });

// Facts the loader relies on beyond the pixels.
struct PngFact {
  const char *File;
  uint32_t Channels, Bits;
  bool HasBG;
  uint32_t BGColor;  // COLORREF
  bool HasProfile;
};

void PrintTo(const PngFact &f, std::ostream *os) {
  *os << f.File << ": " << f.Channels << " channels, " << f.Bits << " bits";
  if (f.HasBG) {
    char color[16];
    std::snprintf(color, sizeof color, "%06X", unsigned(f.BGColor));
    *os << ", background " << color;
  }
  if (f.HasProfile) *os << ", profile";
}

class PngFacts : public ::testing::TestWithParam<PngFact> {};

TEST_P(PngFacts, AreReported) {
  const PngFact f = GetParam();
  const auto data = ReadFile(std::string(TESSIVO_TESTDATA_DIR) + "/pngsuite/" + f.File);
  Decoded d;
  d.D.WantBGColor = 1;
  ASSERT_NE(Lib().read_png(&d.D, data.data(), data.size()), 0);
  EXPECT_EQ(d.D.Channels, f.Channels);
  EXPECT_EQ(d.D.BitsPerSample, f.Bits);
  EXPECT_EQ(d.D.HasBGColor != 0, f.HasBG);
  if (f.HasBG) {
    EXPECT_EQ(d.D.BGColor, f.BGColor);
  }
  EXPECT_EQ(d.D.ICCProfile != nullptr, f.HasProfile);
  if (f.HasProfile) {
    EXPECT_GT(d.D.ProfileLen, 128u);
  }
}

INSTANTIATE_TEST_SUITE_P(Suite, PngFacts,
                         ::testing::Values(PngFact{"bgbn4a08.png", 2, 8, true, 0x000000, false},
                                           PngFact{"bgwn6a08.png", 4, 8, true, 0xFFFFFF, false},
                                           PngFact{"bgyn6a16.png", 4, 16, true, 0x00FFFF, false},
                                           PngFact{"tbrn2c08.png", 4, 8, true, 0x0000FF, false},
                                           PngFact{"basn0g01.png", 1, 8, false, 0, false},
                                           PngFact{"basn3p04.png", 3, 8, false, 0, false},
                                           PngFact{"tbbn3p08.png", 4, 8, true, 0x000000, false},
                                           PngFact{"ccwn2c08.png", 3, 8, false, 0, false},
                                           PngFact{"basn2c16.png", 3, 16, false, 0, false}),
                         [](const auto &info) {
                           const std::string file = info.param.File;
                           return file.substr(0, file.find('.'));
                         });

TEST(PngFacts, ProfileAndDensity) {
  const auto dir = std::string(TESSIVO_TESTDATA_DIR) + "/pngsuite/";
  for (const char *name : {"cdun2c08.png", "cdfn2c08.png"}) {
    const auto data = ReadFile(dir + name);
    Decoded d;
    ASSERT_NE(Lib().read_png(&d.D, data.data(), data.size()), 0);
    EXPECT_GT(d.D.XResolution, 0) << name;
  }
}

}  // namespace
