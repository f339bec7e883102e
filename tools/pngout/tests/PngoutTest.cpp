// bin/pngout on PNG files written by the codec library (as the saver writes
// them before optimising: level 1, the library's filters): smaller files with
// the same pixels, the chunks asked for and no others, untouched files on errors.
#include "core/ImgInfo.h"
#include "core/TempFile.h"
#include "io/Pixio.h"

#include <gtest/gtest.h>
#include <png.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

TPixio &Lib() {
  static TPixio lib(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  return lib;
}

const fs::path &Scratch() {
  static struct Holder {
    fs::path Dir;
    Holder() {
      char tmpl[] = "/tmp/pngout-test-XXXXXX";
      Dir = mkdtemp(tmpl);
    }
    ~Holder() {
      std::error_code ec;
      fs::remove_all(Dir, ec);
    }
  } h;
  return h.Dir;
}

std::vector<uint8_t> ReadFile(const fs::path &p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}
void WriteFile(const fs::path &p, const std::vector<uint8_t> &d) {
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char *>(d.data()), std::streamsize(d.size()));
}

std::string Quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs bin/pngout with the saver's argument order: input, output, options.
int Pngout(const fs::path &in, const fs::path &out, const std::string &options) {
  const std::string cmd = Quote(std::string(TESSIVO_BIN_DIR) + "/pngout") + " " + Quote(in) + " " + Quote(out) + " " +
                          options + " >/dev/null 2>&1";
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

bool HavePngcheck() { return std::system("command -v pngcheck >/dev/null 2>&1") == 0; }

// A smooth, noisy, photograph-like picture: bottom-up rows, B,G,R(,A) or gray.
struct Picture {
  uint32_t Width, Height, Channels, Bits, Bpl;
  std::vector<uint8_t> Mem;
};
Picture Photo(uint32_t w, uint32_t h, uint32_t ch, uint32_t bits = 8) {
  Picture p{w, h, ch, bits, uint32_t((w * ch * bits / 8 + 3) & ~3u), {}};
  p.Mem.assign(size_t(p.Bpl) * h, 0);
  uint32_t r = 12345;
  const double max = bits == 16 ? 65535 : 255;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t c = 0; c < ch; ++c) {
        r = r * 1664525u + 1013904223u;
        const double smooth = 0.5 + 0.25 * std::sin(x * 0.021 + c) * std::cos(y * 0.017 - 0.5 * c) +
                              0.15 * std::sin((x + 2.0 * y) * 0.009 + 2 * c);
        const double noise = (double(r >> 24) / 255.0 - 0.5) * 0.04;
        const uint32_t v = uint32_t(std::clamp((smooth + noise) * max, 0.0, max));
        uint8_t *q = p.Mem.data() + size_t(y) * p.Bpl;
        const size_t i = size_t(x) * ch + c;
        if (bits == 16) q[2 * i] = uint8_t(v), q[2 * i + 1] = uint8_t(v >> 8);
        else q[i] = uint8_t(v);
      }
  return p;
}

TPixioEncode Record(const Picture &p) {
  TPixioEncode e{};
  e.Mem = const_cast<uint8_t *>(p.Mem.data());
  e.Width = p.Width, e.Height = p.Height, e.Bpl = p.Bpl, e.Channels = p.Channels, e.BitsPerSample = p.Bits;
  e.CompressLevel = 1;  // what the saver hands the library when pngout follows
  return e;
}

void WritePng(const fs::path &path, const TPixioEncode &e) {
  const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_NE(Lib().write_png(&e, fd), 0);
  close(fd);
}

// Decoded pixels and background of a PNG, as the program reads them.
struct Pixels {
  uint32_t Width = 0, Height = 0, Channels = 0, Bits = 0;
  std::vector<uint8_t> Rows;
  bool operator==(const Pixels &) const = default;
};
Pixels Decode(const fs::path &p) {
  const auto data = ReadFile(p);
  TPixioDecode d{};
  Pixels out;
  if (!Lib().read_png(&d, data.data(), data.size())) return out;
  out = {d.Width, d.Height, d.Channels, d.BitsPerSample, {}};
  const size_t row = size_t(d.Width) * d.Channels * d.BitsPerSample / 8;
  for (uint32_t y = 0; y < d.Height; ++y) out.Rows.insert(out.Rows.end(), d.Mem + size_t(y) * d.Bpl, d.Mem + size_t(y) * d.Bpl + row);
  PageFree(d.Mem);
  PageFree(d.ICCProfile);
  return out;
}

std::multiset<std::string> ChunkTypes(const fs::path &p) {
  const auto d = ReadFile(p);
  std::multiset<std::string> out;
  size_t at = 8;
  while (at + 12 <= d.size()) {
    const size_t len = size_t(d[at]) << 24 | size_t(d[at + 1]) << 16 | size_t(d[at + 2]) << 8 | d[at + 3];
    out.insert(std::string(d.begin() + long(at + 4), d.begin() + long(at + 8)));
    at += 12 + len;
  }
  return out;
}

struct ShrinkCase {
  const char *Name;
  uint32_t Width, Height, Channels, Bits;
  const char *Options;
  double MaxRatio;  // largest result size over the original
};
void PrintTo(const ShrinkCase &c, std::ostream *os) {
  *os << c.Width << "x" << c.Height << ", " << c.Channels << " channels of " << c.Bits << " bits, pngout " << c.Options
      << ", at most " << c.MaxRatio << " of the original size";
}

class PngoutShrinks : public ::testing::TestWithParam<ShrinkCase> {};

TEST_P(PngoutShrinks, SmallerWithSamePixels) {
  const ShrinkCase c = GetParam();
  const Picture pic = Photo(c.Width, c.Height, c.Channels, c.Bits);
  const fs::path path = Scratch() / (std::string(c.Name) + ".png");
  WritePng(path, Record(pic));
  const Pixels before = Decode(path);
  ASSERT_FALSE(before.Rows.empty());
  const auto size0 = fs::file_size(path);
  ASSERT_EQ(Pngout(path, path, c.Options), 0);
  const auto size1 = fs::file_size(path);
  EXPECT_LE(double(size1), c.MaxRatio * double(size0)) << size0 << " -> " << size1;
  std::printf("%s: %ju -> %ju bytes (%.1f %%)\n", c.Name, uintmax_t(size0), uintmax_t(size1), 100.0 * double(size1) / double(size0));
  EXPECT_TRUE(Decode(path) == before);
  if (HavePngcheck()) {
    EXPECT_EQ(std::system(("pngcheck -q " + Quote(path)).c_str()), 0);
  }
  // No temporary file is left behind.
  size_t files = 0;
  for (const auto &e : fs::directory_iterator(Scratch()))
    files += IsOutputTemporaryName(e.path().filename().string());
  EXPECT_EQ(files, 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, PngoutShrinks,
                         ::testing::Values(ShrinkCase{"rgb_s1", 480, 320, 3, 8, "-s1 -y", 0.9},
                                           ShrinkCase{"rgb_s0", 240, 160, 3, 8, "-s0 -y", 0.9},
                                           ShrinkCase{"gray_s1", 320, 240, 1, 8, "-s1 -y", 0.9},
                                           // the low bytes of noisy 16-bit samples hardly compress at all
                                           ShrinkCase{"rgba16_s1", 160, 120, 4, 16, "-s1 -y", 1.0}),
                         [](const auto &i) { return std::string(i.param.Name); });

TEST(Pngout, KeepsTheChunksAskedFor) {
  // A palette image with transparency, background, profile and physical size.
  const uint32_t w = 64, h = 40;
  Picture idx{w, h, 1, 8, w, std::vector<uint8_t>(size_t(w) * h)};
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) idx.Mem[size_t(y) * w + x] = uint8_t((x / 4 + y / 3) % 40);
  std::vector<uint8_t> pal;
  for (int i = 0; i < 40; ++i) pal.insert(pal.end(), {uint8_t(i * 6), uint8_t(200 - i * 5), uint8_t(i * 3)});
  std::vector<uint8_t> icc(600, 0);  // libpng stores an iCCP only with a plausible header
  const uint32_t n = uint32_t(icc.size());
  icc[0] = uint8_t(n >> 24), icc[1] = uint8_t(n >> 16), icc[2] = uint8_t(n >> 8), icc[3] = uint8_t(n);
  std::memcpy(&icc[12], "mntrRGB XYZ ", 12);
  std::memcpy(&icc[36], "acsp", 4);
  icc[8] = 2;
  struct Case {
    const char *Options;
    std::set<std::string> Ancillary;
  };
  const Case cases[] = {{"-s2 -y", {"tRNS"}},
                        {"-s2 -y -kpHYs,iCCP", {"tRNS", "pHYs", "iCCP"}},
                        {"-s2 -y -kpHYs", {"tRNS", "pHYs"}},
                        {"-s2 -y -kiCCP", {"tRNS", "iCCP"}},
                        {"-s2 -y -k1", {"tRNS", "pHYs", "iCCP", "bKGD"}}};
  int i = 0;
  for (const Case &c : cases) {
    TPixioEncode e = Record(idx);
    e.Palette = pal.data(), e.PaletteCount = 40, e.TransparentIndex0 = 1;
    e.WriteBGColor = 1, e.BGColor = 0x808080;
    e.PhysX = e.PhysY = 3780, e.PhysUnit = 1;
    e.ICCProfile = icc.data(), e.ProfileLen = n;
    const fs::path path = Scratch() / ("chunks" + std::to_string(i++) + ".png");
    WritePng(path, e);
    const auto types0 = ChunkTypes(path);
    ASSERT_TRUE(types0.count("iCCP") && types0.count("pHYs") && types0.count("bKGD") && types0.count("tRNS"));
    const Pixels before = Decode(path);
    ASSERT_EQ(Pngout(path, path, c.Options), 0) << c.Options;
    std::set<std::string> anc;
    for (const auto &t : ChunkTypes(path))
      if (t != "IHDR" && t != "PLTE" && t != "IDAT" && t != "IEND") anc.insert(t);
    EXPECT_EQ(anc, c.Ancillary) << c.Options;
    EXPECT_TRUE(Decode(path) == before) << c.Options;
    if (HavePngcheck()) {
      EXPECT_EQ(std::system(("pngcheck -q " + Quote(path)).c_str()), 0) << c.Options;
    }
  }
}

TEST(Pngout, InterlacedInputComesOutPlainWithSamePixels) {
  const fs::path path = Scratch() / "interlaced.png";
  {
    const uint32_t w = 37, h = 23;
    std::vector<uint8_t> rows(size_t(w) * 3 * h);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = uint8_t((i * 7) ^ (i >> 5));
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 0);
    png_write_info(png, info);
    std::vector<png_bytep> p(h);
    for (uint32_t y = 0; y < h; ++y) p[y] = rows.data() + size_t(y) * w * 3;
    png_write_image(png, p.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
  }
  const Pixels before = Decode(path);
  ASSERT_FALSE(before.Rows.empty());
  ASSERT_EQ(Pngout(path, path, "-s1 -y"), 0);
  EXPECT_EQ(ReadFile(path)[28], 0);  // IHDR interlace method
  EXPECT_TRUE(Decode(path) == before);
}

TEST(Pngout, ErrorsLeaveFilesAlone) {
  const Picture pic = Photo(50, 40, 3);
  const fs::path good = Scratch() / "good.png";
  WritePng(good, Record(pic));
  const auto goodBytes = ReadFile(good);

  const fs::path notPng = Scratch() / "not.png";
  WriteFile(notPng, {'h', 'e', 'l', 'l', 'o'});
  EXPECT_NE(Pngout(notPng, notPng, "-s1 -y"), 0);
  EXPECT_EQ(ReadFile(notPng).size(), 5u);

  const fs::path cut = Scratch() / "cut.png";
  std::vector<uint8_t> truncated(goodBytes.begin(), goodBytes.begin() + long(goodBytes.size() / 2));
  WriteFile(cut, truncated);
  EXPECT_NE(Pngout(cut, cut, "-s1 -y"), 0);
  EXPECT_EQ(ReadFile(cut), truncated);

  // A damaged IDAT checksum: libpng refuses it, so does the tool.
  const fs::path crc = Scratch() / "crc.png";
  std::vector<uint8_t> broken = goodBytes;
  broken[broken.size() - 20] ^= 0x55;
  WriteFile(crc, broken);
  EXPECT_NE(Pngout(crc, crc, "-s1 -y"), 0);
  EXPECT_EQ(ReadFile(crc), broken);

  EXPECT_EQ(Pngout(good, good, "-s9"), 2);
  EXPECT_EQ(Pngout(good, good, "-kXY"), 2);
  // A second file is not overwritten without -y.
  const fs::path other = Scratch() / "other.png";
  WriteFile(other, {'x'});
  EXPECT_NE(Pngout(good, other, "-s2"), 0);
  EXPECT_EQ(ReadFile(other).size(), 1u);
  EXPECT_EQ(Pngout(good, other, "-s2 -y"), 0);
  EXPECT_TRUE(Decode(other) == Decode(good));
  EXPECT_EQ(ReadFile(good), goodBytes);
}

}  // namespace
